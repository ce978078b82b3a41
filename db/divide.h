#ifndef TICKORA_DB_DIVIDE_H_
#define TICKORA_DB_DIVIDE_H_

#include <cstdio>
#include <memory>
#include <vector>

#include "series/series_store.h"
#include "db/divide_record.h"
#include "support/date.h"

class CChart;
class CMargin;

// CDivide is the split list of one issue: its splits, which are the
// elements of the vector it is. It owns them and is copied and moved like
// any vector. The adjusting operations expect the splits in ascending date
// order, which Sort establishes and the database query delivers.
//
// Split adjustment puts every bar (or margin entry) before a split on the
// share count of its own day. The factor of a bar is the product of the
// ratios of the splits dated after it; a split dated after the last bar
// counts only when it is not after today, and a split dated on a bar's own
// day does not change that bar. "Unadjusting" (as the price stage does with
// the bars it downloads) multiplies prices by the factor and divides
// volumes and balances by it; the other direction does the reverse. The
// raw close of a bar is never changed.
//
// The walk from the newest bar back takes up at most one split a bar: when
// two splits fall between the same two adjacent bars, the older of them
// counts only from the next older bar on.
//
// Decision: a split whose ratio is not a positive finite number (which only
// damaged data can hold) counts as ratio 1; taken as it stands it would turn
// every earlier price into 0, infinity or NaN.
class CDivide : public std::vector<CDivideRecord> {
 public:
  using std::vector<CDivideRecord>::vector;
  CDivide() = default;
  CDivide(const CDivide&) = default;
  CDivide(CDivide&&) = default;
  CDivide& operator=(const CDivide&) = default;
  CDivide& operator=(CDivide&&) = default;
  virtual ~CDivide() = default;

  // Empties the list, lets the loader fill it, destroys the loader. True
  // when the loader's status is 0 or more; otherwise (and for a null
  // loader) false with the list left empty.
  [[nodiscard]] bool Load(std::unique_ptr<CDivideLoader> loader);

  // Orders the splits by date number, ascending; splits of the same date
  // keep their order.
  void Sort();

  // Applies the splits to the bars' open, high, low, close and volume (see
  // above). The bars must be in ascending date order. `today` stands in for
  // the local date where given. An empty chart or list changes nothing.
  void AdjustChart(CChart& chart, bool unadjust) const;
  void AdjustChart(CChart& chart, bool unadjust, const CDate& today) const;

  // The same walk over margin entries; both balances change the way a
  // volume does.
  void AdjustMargin(CMargin& margin, bool unadjust) const;
  void AdjustMargin(CMargin& margin, bool unadjust, const CDate& today) const;

  // Prints "[日付:<date number>][分割比:<ratio, 2 decimals>]" a split, in the
  // terminal's charset. A diagnostic aid.
  void Dump(std::FILE* out = stdout) const;
};

#endif  // TICKORA_DB_DIVIDE_H_
