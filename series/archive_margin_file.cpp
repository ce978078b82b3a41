#include "series/archive_margin_file.h"

#include <cstddef>
#include <utility>

#include "series/record_file.h"

namespace {

// The entries of `series` dated from `from` to `to`, as [first, last).
std::pair<size_t, size_t> EntriesWithin(const CMargin& series, uint32_t from,
                                        uint32_t to) {
  int32_t index = 0;
  if (from > to || !series.Find(from, index, CMargin::kFindExactOrLater)) {
    return {0, 0};
  }
  size_t last = static_cast<size_t>(index);
  while (last < series.size() && series[last].date.ToNumber() <= to) ++last;
  return {static_cast<size_t>(index), last};
}

}  // namespace

CMarginRecord DecodeArchiveMarginValues(const unsigned char* at) {
  const uint32_t date = GetLittleU32(at);
  CMarginRecord entry;
  entry.date = CDate(date / 10000u, date / 100u % 100u, date % 100u);
  entry.buy = GetLittleF64(at + 4);
  entry.sell = GetLittleF64(at + 12);
  return entry;
}

bool ReadArchiveMarginFile(const char* path, CMarginTable& table,
                           CArchiveFileHeader* header) {
  table.clear();
  CArchiveFileReader in;
  if (!in.Open(path)) return false;
  if (header != nullptr) *header = in.Header();
  CSeriesCursor<CMargin> cursor(table);
  while (const unsigned char* at = in.Next(kArchiveMarginValueBytes)) {
    cursor.At(in.Code(), in.RecordsLeft(kArchiveMarginValueBytes))
        .push_back(DecodeArchiveMarginValues(at));
  }
  return true;
}

bool WriteArchiveMarginFile(const char* path, const CMarginTable& table,
                            uint32_t fromDate, uint32_t toDate,
                            const CArchiveFileHeader& header) {
  for (const auto& [code, series] : table) {
    const auto [first, last] = EntriesWithin(series, fromDate, toDate);
    if (first < last &&
        !CArchiveFileWriter::CanHold(code, header.IsOldLayout())) {
      return false;
    }
  }
  CArchiveFileWriter out;
  if (!out.Create(path, header)) return false;
  for (const auto& [code, series] : table) {
    const auto [first, last] = EntriesWithin(series, fromDate, toDate);
    if (first == last) continue;
    out.BeginIssue(code);
    for (size_t i = first; i < last; ++i) {
      const CMarginRecord& entry = series[i];
      unsigned char* at = out.PutRecord(kArchiveMarginValueBytes);
      PutLittleU32(at, entry.date.ToNumber());
      PutLittleF64(at + 4, entry.buy);
      PutLittleF64(at + 12, entry.sell);
    }
  }
  return out.Finish();
}
