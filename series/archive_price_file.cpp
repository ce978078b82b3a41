#include "series/archive_price_file.h"

#include <cstddef>
#include <utility>

#include "series/record_codec.h"

namespace {

// The bars of `series` dated from `from` to `to`, as [first, last).
std::pair<size_t, size_t> BarsWithin(const CChart& series, uint32_t from,
                                     uint32_t to) {
  int32_t index = 0;
  if (from > to || !series.Find(from, index, kFindExactOrLater)) {
    return {0, 0};
  }
  size_t last = static_cast<size_t>(index);
  while (last < series.size() && series[last].DateNumber() <= to) ++last;
  return {static_cast<size_t>(index), last};
}

}  // namespace

bool ReadArchivePriceFile(const char* path, CChartTable& table,
                          CArchiveFileHeader* header) {
  table.clear();
  CArchiveFileReader in;
  if (!in.Open(path)) return false;
  if (header != nullptr) *header = in.Header();
  CSeriesCursor<CChart> cursor(table);
  while (const unsigned char* at = in.Next(kArchivePriceValueBytes)) {
    cursor.At(in.Code(), in.RecordsLeft(kArchivePriceValueBytes))
        .push_back(DecodeBar(at));
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
      EncodeBar(series[i], out.PutRecord(kArchivePriceValueBytes));
    }
  }
  return out.Finish();
}
