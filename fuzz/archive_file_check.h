#ifndef TICKORA_FUZZ_ARCHIVE_FILE_CHECK_H_
#define TICKORA_FUZZ_ARCHIVE_FILE_CHECK_H_

// The promises the archive price and archive margin file readers share,
// checked on the bytes of one input: the result agrees with the header's
// presence; the header is the file's first 8 bytes; every whole record,
// and nothing else, is in its issue's series, in file order; no series is empty;
// the records fit in the bytes; the room reserved stays within what the
// file's records justify; every code can be carried by the file's layout;
// and the table survives being written and read again (its records in
// date order) with the same series, records (checked by `same`) and file
// bytes; the layout follows the version; the writer puts the issues one
// after another in code order, and a file written for a span of dates, in
// either layout, holds exactly the records within it or, for a code the
// layout cannot carry, is refused.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "series/archive_index.h"
#include "series/archive_file.h"
#include "series/record_file.h"

namespace fuzz {

// Walks `data` by the layout: every whole record after the header is in
// its issue's series of `table` (as read, in file order) and nothing else
// is; `sameValues(record, values)` tells whether a record holds the values
// at `values`. `order`, when given, gets each record's code in file order.
template <typename Table, typename SameValues>
void CheckArchiveLayout(const uint8_t* data, size_t size, size_t valueBytes, bool old,
                        const Table& table, SameValues sameValues,
                        std::vector<std::string>* order = nullptr) {
  std::map<std::string, size_t> next;
  for (size_t at = kArchiveHeaderBytes; at < size; at += valueBytes) {
    std::string code;
    if (old) {
      if (size - at < 2 + valueBytes) break;
      code = std::to_string(data[at] | data[at + 1] << 8);
      at += 2;
    } else {
      const void* zero = std::memchr(data + at, 0, size - at);
      if (zero == nullptr) break;
      const size_t end = static_cast<size_t>(static_cast<const uint8_t*>(zero) - data);
      if (size - end - 1 < valueBytes) break;
      code.assign(reinterpret_cast<const char*>(data + at), end - at);
      at = end + 1;
    }
    const auto found = table.find(code);
    Check(found != table.end());
    const size_t index = next[code]++;
    Check(index < found->second.size() && sameValues(found->second[index], data + at));
    if (order != nullptr) order->push_back(code);
  }
  for (const auto& [code, series] : table) Check(series.size() == next[code]);
}

// `read(path, table, header)` and `write(path, table, from, to, header)`
// are the reader and the writer; `date(record)` gives a record's date as a
// number; `same(a, b)` tells whether a record read again is the one
// written; `sameValues` is as for CheckArchiveLayout.
template <typename Table, typename Read, typename Write, typename Date, typename Same,
          typename SameValues>
void CheckArchiveFile(const uint8_t* data, size_t size, size_t valueBytes, Read read,
                      Write write, Date date, Same same, SameValues sameValues) {
  static const std::string input = TempPath("in.bin");
  static const std::string first = TempPath("a.bin");
  static const std::string second = TempPath("b.bin");
  static const std::string ranged = TempPath("c.bin");
  if (!WriteBytes(input, data, size)) return;

  Table table;
  // No file, or a folder, is refused.
  Check(!read((input + ".none").c_str(), table, nullptr) && !read("/", table, nullptr));
  table["stale"];  // a read empties the table first
  CArchiveFileHeader header;
  Check(read(input.c_str(), table, &header) == (size >= kArchiveHeaderBytes));
  if (size < kArchiveHeaderBytes) {
    Check(table.empty());
    return;
  }
  Check(std::bit_cast<uint32_t>(header.version) == GetLittleU32(data) &&
        header.madeDate == GetLittleU32(data + 4));
  const bool old = header.IsOldLayout();
  // Below 2.0 the old layout; a NaN is not below, so the current one.
  Check(old == (std::bit_cast<float>(GetLittleU32(data)) < 2.0f));
  CheckArchiveLayout(data, size, valueBytes, old, table, sameValues);
  // The shortest record: an empty code and its zero, or an issue number.
  const size_t shortest = valueBytes + (old ? 2 : 1);
  size_t records = 0;
  size_t room = 0;
  for (auto& [code, series] : table) {
    Check(!series.empty());
    Check(CArchiveFileWriter::CanHold(code, old));
    records += series.size();
    room += series.capacity();
    // The writer takes each series in ascending date order.
    std::stable_sort(series.begin(), series.end(),
                     [&](const auto& a, const auto& b) { return date(a) < date(b); });
  }
  Check(records * shortest <= size - kArchiveHeaderBytes);
  // Reservations together stay within the records the file can hold; a
  // series beyond its reservation grows to at most twice its records.
  Check(room <= (size - kArchiveHeaderBytes) / shortest + 1 + 2 * records);

  // From the first write on, reading and writing changes nothing.
  Fresh(first);
  Check(write(first.c_str(), table, 0, UINT32_MAX, header));
  // A folder that does not exist gives no file.
  Check(!write((first + ".none/x.bin").c_str(), table, 0, UINT32_MAX, header));
  Table again;
  CArchiveFileHeader againHeader;
  Check(read(first.c_str(), again, &againHeader));
  Check(std::memcmp(&againHeader, &header, sizeof(header)) == 0);
  Check(table.size() == again.size());
  for (auto i = table.begin(), j = again.begin(); i != table.end(); ++i, ++j) {
    Check(i->first == j->first && i->second.size() == j->second.size());
    for (size_t k = 0; k < i->second.size(); ++k) Check(same(i->second[k], j->second[k]));
  }
  Fresh(second);
  Check(write(second.c_str(), again, 0, UINT32_MAX, againHeader));
  const std::string written = ReadBytes(first);
  Check(written == ReadBytes(second));
  std::vector<std::string> order;
  CheckArchiveLayout(reinterpret_cast<const uint8_t*>(written.data()), written.size(), valueBytes,
                     old, again, sameValues, &order);
  Check(std::is_sorted(order.begin(), order.end()));

  // A span from a third to two thirds of the dates, turned around (empty)
  // for an odd size: each issue keeps its records within, ends included.
  // Written with the other layout's header as well, the table is refused,
  // and no file made, exactly when an issue with records within has a code
  // that layout cannot carry: the old one takes only the numbers 0 to 65535
  // as written, without sign, blank or leading zero.
  std::vector<uint32_t> dates;
  for (const auto& [code, series] : table) {
    for (const auto& record : series) dates.push_back(date(record));
  }
  if (dates.empty()) return;
  std::sort(dates.begin(), dates.end());
  uint32_t from = dates[dates.size() / 3], to = dates[dates.size() * 2 / 3];
  if (size % 2) std::swap(from, to);
  const auto within = [&](const auto& record) {
    return date(record) >= from && date(record) <= to;
  };
  const auto number = [](const std::string& code) {
    return !code.empty() && code.size() <= 5 && (code == "0" || code[0] != '0') &&
           code.find_first_not_of("0123456789") == std::string::npos && std::stoul(code) <= 65535;
  };
  CArchiveFileHeader other = header;
  other.version = old ? 2.0f : 1.0f;
  for (const CArchiveFileHeader& as : {header, other}) {
    bool holdable = true;
    for (const auto& [code, series] : table) {
      holdable &= !as.IsOldLayout() || number(code) ||
                  std::none_of(series.begin(), series.end(), within);
    }
    Fresh(ranged);
    Check(write(ranged.c_str(), table, from, to, as) == holdable);
    if (!holdable) {
      Check(access(ranged.c_str(), F_OK) != 0);
      continue;
    }
    Table got;
    Check(read(ranged.c_str(), got, nullptr));
    size_t issues = 0;
    for (const auto& [code, series] : table) {
      typename Table::mapped_type expected;
      std::copy_if(series.begin(), series.end(), std::back_inserter(expected), within);
      if (expected.empty()) continue;
      ++issues;
      const auto& kept = got[code];
      Check(kept.size() == expected.size());
      for (size_t k = 0; k < kept.size() && k < expected.size(); ++k) {
        Check(same(kept[k], expected[k]));
      }
    }
    Check(got.size() == issues);
  }
}

// The index of the same bytes, fed in pieces of 1 and of 29 bytes, holds
// each issue's records as `table` (read whole, in file order) does, each
// the same (`same`); a code longer than the index keeps ends the records
// there, so that the index then holds the first records of each issue only.
template <typename Table, typename ReadIndexed, typename Same>
void CheckArchiveIndex(const uint8_t* data, size_t size, size_t valueBytes, const Table& table,
                       ReadIndexed readIndexed, Same same) {
  static const std::string values = TempPath("values.bin");
  bool longCode = false;
  uint64_t records = 0;
  for (const auto& [code, series] : table) {
    longCode |= code.size() > CArchiveIndex::kMaxCodeBytes;
    records += series.size();
  }
  for (size_t piece : {size_t{1}, size_t{29}}) {
    CArchiveIndex index(valueBytes);
    Check(index.Begin(values));
    for (size_t at = 0; at < size; at += piece) index.Add(data + at, std::min(piece, size - at));
    Check(index.End() && index.HasHeader() == (size >= kArchiveHeaderBytes));
    if (!index.HasHeader() || index.TooManyRuns()) continue;
    Check(std::bit_cast<uint32_t>(index.Header().version) == GetLittleU32(data) &&
          index.Header().madeDate == GetLittleU32(data + 4));
    Check(longCode ? index.Records() <= records : index.Records() == records);
    Check(index.Issues() <= table.size());
    for (const auto& [code, series] : table) {
      typename Table::mapped_type got;
      Check(readIndexed(index, code, got) && got.size() <= series.size());
      Check(longCode || got.size() == series.size());
      for (size_t k = 0; k < got.size(); ++k) Check(same(got[k], series[k]));
    }
  }
  // An index whose values file cannot be made neither begins nor ends.
  CArchiveIndex nowhere(valueBytes);
  Check(!nowhere.Begin(values + ".none/values") && !nowhere.End());
}

// What a stage keeps of a table's records (series/record_checks.h: a day
// that exists, values a file can hold, dates strictly ascending) the
// issue's own file holds exactly: saved with `save(series)` and read back
// with `load(series)`, the same records (`same`). Whatever a server sends,
// the files stay well-formed.
template <typename Table, typename Keep, typename Save, typename Load, typename Same>
void CheckKeptRecords(Table& table, Keep keep, Save save, Load load, Same same) {
  for (auto& [code, series] : table) {
    typename Table::mapped_type kept;
    for (const auto& record : series) {
      if (keep(record, kept)) kept.push_back(record);
    }
    if (kept.empty()) continue;
    Check(save(kept));
    typename Table::mapped_type again;
    Check(load(again));
    Check(again.size() == kept.size());
    for (size_t i = 0; i < kept.size() && i < again.size(); ++i) Check(same(again[i], kept[i]));
  }
}

}  // namespace fuzz

#endif  // TICKORA_FUZZ_ARCHIVE_FILE_CHECK_H_
