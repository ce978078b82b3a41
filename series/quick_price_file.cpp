#include "series/quick_price_file.h"

#include <cstring>

#include "series/record_codec.h"
#include "support/date.h"
#include "support/text.h"

namespace {

// `date` moved back by `count` trading days. A date the calendar cannot
// move any further stops the walk, so a huge depth costs no more than the
// way back to the start of the calendar.
CDate TradingDaysBefore(CDate date, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const CDate before = date;
    date.PrevBusinessDay();
    if (date == before) break;
  }
  return date;
}

// Finds the first missing trading day of series as CChart::FindGap does,
// for thousands of series that mostly cover the same days. A series found
// without a gap vouches for every series whose dates are a tail of its own:
// each step from one bar to the next is one it has already taken. Only the
// others walk the calendar. The series must outlive the checker.
class CGapChecker {
 public:
  bool FindGap(const CChart& series, CDate* firstMissing) {
    if (IsTailOfKnown(series)) return false;
    if (series.FindGap(firstMissing)) return true;
    if (known_ == nullptr || series.size() > known_->size()) known_ = &series;
    return false;
  }

 private:
  bool IsTailOfKnown(const CChart& series) const {
    if (known_ == nullptr || series.size() > known_->size()) return false;
    const size_t offset = known_->size() - series.size();
    for (size_t i = 0; i < series.size(); ++i) {
      if (series[i].DateNumber() != (*known_)[offset + i].DateNumber()) {
        return false;
      }
    }
    return true;
  }

  const CChart* known_ = nullptr;  // the longest series without a gap
};

}  // namespace

int32_t WriteQuickPriceFile(const char* path, const CChartTable& quickMap,
                            int32_t depth, int32_t gapTolerance,
                            std::string* errorText) {
  if (depth < kQuickMinDepth) return kQuickFileBadDepth;

  // Find the window [begin, end] and check every issue against it before
  // the file is touched.
  const auto date_of = [](const CDayRecord& bar) { return bar.DateNumber(); };
  uint32_t end = 0, start = 0, begin = 0;
  int32_t gaps = 0;
  CGapChecker checker;
  for (const auto& [code, series] : quickMap) {
    if (end == 0 && !series.empty()) {
      // The first issue with bars sets the window and is not examined.
      end = series.back().DateNumber();
      start = TradingDaysBefore(series.back().Date(), depth - 1).ToNumber();
      begin = FirstDateFrom(series, start, date_of);
    } else {
      if (!series.empty() && series.back().DateNumber() != end) {
        return kQuickFileEndMismatch;
      }
      CDate missing;
      if (checker.FindGap(series, &missing) && ++gaps > gapTolerance) {
        if (errorText != nullptr) {
          *errorText = StringFormat("fragmented data (%s:%s)", code.c_str(),
                                    missing.Format(2).c_str());
        }
        return kQuickFileTooManyGaps;
      }
    }
    if (begin > start && !series.empty()) {
      const uint32_t first = FirstDateFrom(series, start, date_of);
      if (first != 0 && first < begin) begin = first;
    }
  }

  return WriteQuickFile(
      path, kQuickPriceMagic, quickMap, begin, end, kQuickPriceRecordBytes, date_of,
      // A record is the code and a bar as chart files store it.
      [](const CDayRecord& bar, unsigned char* at) {
        EncodeBar(bar, at + kQuickCodeBytes);
      });
}

bool ReadQuickPriceFile(const char* path, CChartTable& table,
                        CQuickFileHeader* header) {
  table.clear();
  CQuickFileReader in;
  if (!in.Open(path, kQuickPriceMagic)) return false;
  if (header != nullptr) *header = in.Header();
  for (const std::string& code : in.Codes()) table[code];
  CSeriesCursor<CChart> cursor(table);
  while (const unsigned char* at = in.Next(kQuickPriceRecordBytes)) {
    cursor.At(GetQuickCode(at), in.RecordsLeft(kQuickPriceRecordBytes))
        .push_back(DecodeBar(at + kQuickCodeBytes));
  }
  return true;
}
