#ifndef TICKORA_SERIES_SERIES_TABLE_H_
#define TICKORA_SERIES_SERIES_TABLE_H_

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "series/chart.h"
#include "series/margin.h"

// Tables of many issues' series, ordered by issue code in ascending byte
// order: the quick maps of the price and margin stages, and what the quick
// and archive file readers fill. A table owns its series.
using CChartTable = std::map<std::string, CChart>;
using CMarginTable = std::map<std::string, CMargin>;

// CSeriesCursor appends records to the series of their codes while a file
// is read in order. It remembers the series of the last code, so the
// records of one issue, which mostly follow one another, cost a comparison
// instead of a lookup. It refers to the table, which must outlive it and
// must not lose entries while it is used.
template <typename Series>
class CSeriesCursor {
 public:
  explicit CSeriesCursor(std::map<std::string, Series>& table)
      : table_(table) {}
  CSeriesCursor(const CSeriesCursor&) = delete;
  CSeriesCursor& operator=(const CSeriesCursor&) = delete;

  // The series of `code`, made empty when the code is new. A series found
  // empty gets room for as many records as the series before it, but for
  // no more than `recordsLeft`, a bound the caller takes from what is left
  // of the file rather than from any count stored in it. All the room so
  // reserved together stays within the `recordsLeft` of the first call:
  // records that alternate between one long series and ever new issues
  // would otherwise reserve, issue after issue, the long series' length
  // again, which grows with the square of the file.
  Series& At(std::string_view code, uint64_t recordsLeft) {
    if (!started_) {
      budget_ = recordsLeft;
      started_ = true;
    }
    if (series_ == nullptr || code != code_) {
      const size_t before = series_ != nullptr ? series_->size() : 0;
      code_.assign(code);
      series_ = &table_[code_];
      if (series_->empty()) {
        const uint64_t room = std::min<uint64_t>(
            {static_cast<uint64_t>(before), recordsLeft, budget_});
        series_->reserve(static_cast<size_t>(room));
        budget_ -= room;
      }
    }
    return *series_;
  }

 private:
  std::map<std::string, Series>& table_;
  std::string code_;
  Series* series_ = nullptr;
  bool started_ = false;
  uint64_t budget_ = 0;  // room that reservations may still take
};

#endif  // TICKORA_SERIES_SERIES_TABLE_H_
