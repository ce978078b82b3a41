#include "db/divide.h"

#include <algorithm>
#include <cmath>

#include "series/chart.h"
#include "series/margin.h"
#include "support/cp932.h"
#include "support/text.h"

namespace {

double UsableRatio(double ratio) {
  return std::isfinite(ratio) && ratio > 0.0 ? ratio : 1.0;
}

// The walk shared by charts and margin series. `count` entries in ascending
// date order; `dateOf(i)` gives the date number of entry i and
// `apply(i, factor)` changes it. `last` is the date of the newest entry.
template <typename DateOf, typename Apply>
void Walk(const std::vector<CDivideRecord>& splits, std::size_t count,
          const CDate& last, std::uint32_t today, DateOf dateOf, Apply apply) {
  if (count == 0 || splits.empty()) return;
  CDate next = last;
  next.NextDay();
  const std::uint32_t nextNumber = next.ToNumber();

  // k: the first split on or after the day after the newest entry (the
  // number of splits when there is none).
  const auto first = std::lower_bound(
      splits.begin(), splits.end(), nextNumber,
      [](const CDivideRecord& split, std::uint32_t date) {
        return split.date.ToNumber() < date;
      });
  const std::ptrdiff_t k = first - splits.begin();

  // Splits after the newest entry count up to the first one after today.
  double factor = 1.0;
  for (auto it = first; it != splits.end() && it->date.ToNumber() <= today;
       ++it) {
    factor *= UsableRatio(it->ratio);
  }

  std::ptrdiff_t j = k - 1;
  for (std::size_t i = count; i-- > 0;) {
    if (j >= 0 && dateOf(i) < splits[j].date.ToNumber()) {
      factor *= UsableRatio(splits[j].ratio);
      --j;
    }
    apply(i, factor);
  }
}

}  // namespace

bool CDivide::Load(std::unique_ptr<CDivideLoader> loader) {
  clear();
  if (loader && loader->Load(*this) >= 0) return true;
  clear();
  return false;
}

void CDivide::Sort() {
  std::stable_sort(begin(), end(),
                   [](const CDivideRecord& a, const CDivideRecord& b) {
                     return a.date.ToNumber() < b.date.ToNumber();
                   });
}

void CDivide::AdjustChart(CChart& chart, bool unadjust) const {
  AdjustChart(chart, unadjust, CDate::Today());
}

void CDivide::AdjustChart(CChart& chart, bool unadjust,
                          const CDate& today) const {
  if (chart.empty()) return;
  Walk(
      *this, chart.size(), chart.back().Date(), today.ToNumber(),
      [&chart](std::size_t i) { return chart[i].DateNumber(); },
      [&chart, unadjust](std::size_t i, double factor) {
        CDayRecord& bar = chart[i];
        if (unadjust) {
          bar.open *= factor;
          bar.high *= factor;
          bar.low *= factor;
          bar.close *= factor;
          bar.volume /= factor;
        } else {
          bar.open /= factor;
          bar.high /= factor;
          bar.low /= factor;
          bar.close /= factor;
          bar.volume *= factor;
        }
      });
}

void CDivide::AdjustMargin(CMargin& margin, bool unadjust) const {
  AdjustMargin(margin, unadjust, CDate::Today());
}

void CDivide::AdjustMargin(CMargin& margin, bool unadjust,
                           const CDate& today) const {
  if (margin.empty()) return;
  Walk(
      *this, margin.size(), margin.back().date, today.ToNumber(),
      [&margin](std::size_t i) { return margin[i].date.ToNumber(); },
      [&margin, unadjust](std::size_t i, double factor) {
        CMarginRecord& entry = margin[i];
        if (unadjust) {
          entry.buy /= factor;
          entry.sell /= factor;
        } else {
          entry.buy *= factor;
          entry.sell *= factor;
        }
      });
}

void CDivide::Dump(std::FILE* out) const {
  for (const CDivideRecord& split : *this) {
    PrintCp932(out, StringFormat("[日付:%u][分割比:%.2f]\n",
                                 split.date.ToNumber(), split.ratio));
  }
}
