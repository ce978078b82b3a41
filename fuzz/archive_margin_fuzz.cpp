// Feeds arbitrary bytes to ReadArchiveMarginFile as an archive margin file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader: a result that disagrees with the header's presence, a header
// other than the file's first 8 bytes, an empty series, more records than
// the bytes can hold, more room reserved than the file's records justify, a
// code with a zero byte or one the old layout cannot carry, or a table that
// does not survive being written and read again (its entries in date
// order) with the same series, entries bit for bit and file bytes.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_files.h"
#include "series/archive_margin_file.h"
#include "series/record_file.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

namespace {

bool SameEntries(const CMarginTable& a, const CMarginTable& b) {
  if (a.size() != b.size()) return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
    if (i->first != j->first || i->second.size() != j->second.size()) {
      return false;
    }
    for (size_t k = 0; k < i->second.size(); ++k) {
      const CMarginRecord& x = i->second[k];
      const CMarginRecord& y = j->second[k];
      if (x.date.ToNumber() != y.date.ToNumber() ||
          std::memcmp(&x.buy, &y.buy, sizeof(double)) != 0 ||
          std::memcmp(&x.sell, &y.sell, sizeof(double)) != 0) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("in.bin");
  static const std::string first = TempPath("a.bin");
  static const std::string second = TempPath("b.bin");
  if (!WriteBytes(input, data, size)) return 0;

  CMarginTable table;
  CArchiveFileHeader header;
  Check(ReadArchiveMarginFile(input.c_str(), table, &header) ==
        (size >= kArchiveHeaderBytes));
  if (size < kArchiveHeaderBytes) {
    Check(table.empty());
    return 0;
  }
  Check(std::bit_cast<uint32_t>(header.version) == GetLittleU32(data) &&
        header.madeDate == GetLittleU32(data + 4));
  const bool old = header.IsOldLayout();
  // The shortest record: an empty code and its zero, or an issue number.
  const size_t shortest = kArchiveMarginValueBytes + (old ? 2 : 1);
  size_t records = 0;
  size_t room = 0;
  for (auto& [code, series] : table) {
    Check(!series.empty());
    Check(CArchiveFileWriter::CanHold(code, old));
    records += series.size();
    room += series.capacity();
    // The writer takes each series in ascending date order.
    std::stable_sort(series.begin(), series.end(),
                     [](const CMarginRecord& a, const CMarginRecord& b) {
                       return a.date.ToNumber() < b.date.ToNumber();
                     });
  }
  Check(records * shortest <= size - kArchiveHeaderBytes);
  // Reservations together stay within the records the file can hold; a
  // series beyond its reservation grows to at most twice its records.
  Check(room <= (size - kArchiveHeaderBytes) / shortest + 1 + 2 * records);

  // The balances are stored at full precision: written and read back, the
  // table is the same bit for bit, and so is the file written again.
  fuzz::Fresh(first);
  Check(WriteArchiveMarginFile(first.c_str(), table, 0, UINT32_MAX, header));
  CMarginTable again;
  CArchiveFileHeader againHeader;
  Check(ReadArchiveMarginFile(first.c_str(), again, &againHeader));
  Check(std::memcmp(&againHeader, &header, sizeof(header)) == 0);
  Check(SameEntries(table, again));
  fuzz::Fresh(second);
  Check(WriteArchiveMarginFile(second.c_str(), again, 0, UINT32_MAX,
                              againHeader));
  Check(ReadBytes(first) == ReadBytes(second));
  return 0;
}
