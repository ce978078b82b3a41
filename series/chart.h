#ifndef TICKORA_SERIES_CHART_H_
#define TICKORA_SERIES_CHART_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "series/dated_find.h"
#include "series/series_store.h"
#include "series/day_record.h"
#include "series/quote_item.h"
#include "support/date.h"

class CWeekChart;
class CMonthChart;

// CChart is the daily price series of one issue: its bars, which are the
// elements of the vector it is. It owns its bars and is copied and moved
// like any vector. CWeekChart and CMonthChart are the same series with one
// bar a week (Sunday to Saturday) or a calendar month; they override the
// virtual operations, which are the ones that depend on the bar's period.
//
// The bars are expected in ascending date order, at most one a date.
// FillGaps and ExtendTo keep that order; Load, AppendRecords and direct
// pushes keep the order their source gives, which is trusted.
//
// Dates are given as date numbers (year * 10000 + month * 100 + day) where
// a series is searched or stepped, and answered as CDate. Date
// arithmetic follows the trading calendar of CDate. Absence is answered by
// false, 0 or the empty date.
class CChart : public std::vector<CDayRecord> {
 public:

  // The local date and hour, as ExtendTo needs them. Now() reads the
  // clock; tests pass a fixed value instead.
  struct LocalTime {
    CDate today;
    int hour = 0;
    static LocalTime Now();
  };

  using std::vector<CDayRecord>::vector;
  CChart() = default;
  CChart(const CChart&) = default;
  CChart(CChart&&) = default;
  CChart& operator=(const CChart&) = default;
  CChart& operator=(CChart&&) = default;
  virtual ~CChart() = default;

  // ---- Virtual operations: the period of a bar ---------------------------

  // Looks up `date` by binary search and writes the bar's index to `index`
  // when the answer is true (otherwise `index` is left alone). Mode
  // kFindExact wants a bar on the date; kFindExactOrLater also takes the
  // first later bar, kFindExactOrEarlier the last earlier one; any other
  // mode acts as kFindExact. An empty series answers false. Week and month series first move the date to
  // the key of its period (the first trading day of its week or month).
  [[nodiscard]] virtual bool Find(uint32_t date, int32_t& index, int32_t mode) const;

  // The date of bar `index`; past the last bar, the last bar's date moved
  // on by NextDate once for every index beyond it. The empty date for an
  // empty series or a negative index.
  virtual CDate DateAt(int32_t index) const;

  // The date of the next (previous) bar after (before) `date`: the next or
  // previous trading day here; the first trading day of the next or
  // previous week or month in the subclasses. A number that is no date
  // gives the empty date.
  virtual CDate NextDate(uint32_t date) const;
  virtual CDate PrevDate(uint32_t date) const;

  // The period of one bar as a word (CP932): "日", "週" or "月".
  virtual std::string UnitName() const;

  // ---- Loading and saving ------------------------------------------------

  // Empties the series, lets the loader fill it, destroys the loader. True
  // when the loader's status is 0 or more; false too for a null loader.
  [[nodiscard]] bool Load(std::unique_ptr<CChartLoader> loader);
  // Lets the saver write the series, destroys the saver. True when the
  // saver's status is 0 or more; false too for a null saver.
  [[nodiscard]] bool Save(std::unique_ptr<CChartSaver> saver);

  // Appends one bar for each item, in order, with the item's date, open,
  // high, low, close and volume and raw close 0; the codes are not looked
  // at. Without `keep` the series is emptied first.
  static void AppendRecords(const CQuoteItems& records, CChart& chart,
                            bool keep);

  // Replaces this series by copies of the last `count` bars of `source`
  // (all of them when it holds fewer, none when count is 0 or less).
  void CopyLast(CChart source, int32_t count);

  // ---- Gaps --------------------------------------------------------------

  // Makes every trading day between the first and the last bar present:
  // a missing day gets a filler bar whose four prices are the close of the
  // bar before the gap, volume 0 and raw close 0. The series is sorted by
  // date afterwards. Returns the number of bars added.
  int32_t FillGaps();

  // Carries the last close forward: appends filler bars (four prices equal
  // to the last bar's close, volume 0, raw close 0) for every trading day
  // after the last bar up to `end`. An `end` of today or later means the
  // last complete trading day: today, or the trading day before today
  // while today is a trading day and it is not yet 15:00 local time.
  // Returns the number of bars added; 0 for an empty series.
  int32_t ExtendTo(CDate end);
  int32_t ExtendTo(CDate end, const LocalTime& now);

  // True when some bar does not fall on the trading day after the bar
  // before it; `firstMissing` (when given) then receives the trading day
  // expected there. False for series of 0 or 1 bar.
  [[nodiscard]] bool FindGap(CDate* firstMissing = nullptr) const;

  // Removes the leading bars that have a zero among open, high, low and
  // close, up to the first bar whose four prices are all non-zero. A
  // series whose bars all have a zero price becomes empty.
  void TrimLeading();

  // Prints one line a bar: "[日付:%u][始値:%.2f][高値:%.2f][安値:%.2f]
  // [終値:%.2f][出来高:%.0f]" with the date number and the values, in the
  // terminal's charset. A diagnostic aid.
  void Dump(std::FILE* out = stdout) const;

  // ---- Period series -------------------------------------------------------

  // Folds the daily bars into one bar a week or a month. A period bar has
  // the date and open of its first daily bar, the highest high, the lowest
  // low, the close of its last bar (also as raw close) and the sum of the
  // volumes. A daily bar with open 0 does not start a period: the next bar
  // of the same period replaces it (and such a bar closing the series is
  // dropped). Include series/week_chart.h or series/month_chart.h to call
  // these.
  CWeekChart ToWeekChart() const;
  CMonthChart ToMonthChart() const;

 protected:
  // The first trading day of the week (Sunday to Saturday) or month of
  // `date`, as the week and month series key their bars; the number as it
  // stands when it is no date.
  [[nodiscard]] static uint32_t WeekKey(uint32_t date);
  [[nodiscard]] static uint32_t MonthKey(uint32_t date);
};

#endif  // TICKORA_SERIES_CHART_H_
