#include "series/archive_margin_file.h"

#include <cstddef>
#include <utility>

#include "series/record_codec.h"

namespace {

// The entries of `series` dated from `from` to `to`, as [first, last).
std::pair<size_t, size_t> EntriesWithin(const CMargin& series, uint32_t from,
                                        uint32_t to) {
  int32_t index = 0;
  if (from > to || !series.Find(from, index, kFindExactOrLater)) {
    return {0, 0};
  }
  size_t last = static_cast<size_t>(index);
  while (last < series.size() && series[last].date.ToNumber() <= to) ++last;
  return {static_cast<size_t>(index), last};
}

}  // namespace

bool ReadArchiveMarginFile(const char* path, CMarginTable& table,
                           CArchiveFileHeader* header) {
  table.clear();
  CArchiveFileReader in;
  if (!in.Open(path)) return false;
  if (header != nullptr) *header = in.Header();
  CSeriesCursor<CMargin> cursor(table);
  while (const unsigned char* at = in.Next(kArchiveMarginValueBytes)) {
    cursor.At(in.Code(), in.RecordsLeft(kArchiveMarginValueBytes))
        .push_back(DecodeMarginEntry(at));
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
      EncodeMarginEntry(series[i], out.PutRecord(kArchiveMarginValueBytes));
    }
  }
  return out.Finish();
}
