#include "series/archive_price_file.h"

#include <cstddef>
#include <utility>

#include "series/record_file.h"

namespace {

// The bars of `series` dated from `from` to `to`, as [first, last).
std::pair<size_t, size_t> BarsWithin(const CChart& series, uint32_t from,
                                     uint32_t to) {
  int32_t index = 0;
  if (from > to || !series.Find(from, index, CChart::kFindExactOrLater)) {
    return {0, 0};
  }
  size_t last = static_cast<size_t>(index);
  while (last < series.size() && series[last].DateNumber() <= to) ++last;
  return {static_cast<size_t>(index), last};
}

}  // namespace

CDayRecord DecodeArchivePriceValues(const unsigned char* at) {
  CDayRecord bar;
  bar.SetDateNumber(GetLittleU32(at));
  bar.open = GetLittleF32(at + 4);
  bar.high = GetLittleF32(at + 8);
  bar.low = GetLittleF32(at + 12);
  bar.close = GetLittleF32(at + 16);
  bar.volume = GetLittleF32(at + 20);
  return bar;
}

bool ReadArchivePriceFile(const char* path, CChartTable& table,
                          CArchiveFileHeader* header) {
  table.clear();
  CArchiveFileReader in;
  if (!in.Open(path)) return false;
  if (header != nullptr) *header = in.Header();
  CSeriesCursor<CChart> cursor(table);
  while (const unsigned char* at = in.Next(kArchivePriceValueBytes)) {
    cursor.At(in.Code(), in.RecordsLeft(kArchivePriceValueBytes))
        .push_back(DecodeArchivePriceValues(at));
  }
  return true;
}

bool WriteArchivePriceFile(const char* path, const CChartTable& table,
                           uint32_t fromDate, uint32_t toDate,
                           const CArchiveFileHeader& header) {
  for (const auto& [code, series] : table) {
    const auto [first, last] = BarsWithin(series, fromDate, toDate);
    if (first < last &&
        !CArchiveFileWriter::CanHold(code, header.IsOldLayout())) {
      return false;
    }
  }
  CArchiveFileWriter out;
  if (!out.Create(path, header)) return false;
  for (const auto& [code, series] : table) {
    const auto [first, last] = BarsWithin(series, fromDate, toDate);
    if (first == last) continue;
    out.BeginIssue(code);
    for (size_t i = first; i < last; ++i) {
      const CDayRecord& bar = series[i];
      unsigned char* at = out.PutRecord(kArchivePriceValueBytes);
      PutLittleU32(at, bar.DateNumber());
      PutLittleF32(at + 4, static_cast<float>(bar.open));
      PutLittleF32(at + 8, static_cast<float>(bar.high));
      PutLittleF32(at + 12, static_cast<float>(bar.low));
      PutLittleF32(at + 16, static_cast<float>(bar.close));
      PutLittleF32(at + 20, static_cast<float>(bar.volume));
    }
  }
  return out.Finish();
}
