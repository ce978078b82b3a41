#include "series/chart.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "series/dated_find.h"
#include "series/month_chart.h"
#include "series/week_chart.h"
#include "support/cp932.h"
#include "support/text.h"

namespace {

// A filler bar: the four prices at `price`, volume and raw close 0.
CDayRecord Filler(const CDate& date, double price) {
  CDayRecord bar;
  bar.SetDate(date);
  bar.open = bar.high = bar.low = bar.close = price;
  return bar;
}

bool HasZeroPrice(const CDayRecord& bar) {
  return bar.open == 0.0 || bar.high == 0.0 || bar.low == 0.0 ||
         bar.close == 0.0;
}

// Folds daily bars into period bars. `starts` tells whether bar `next`
// begins a new period after bar `prev`.
template <typename Period, typename Starts>
Period Fold(const CChart& daily, Starts starts) {
  Period result;
  CDayRecord p;
  for (size_t i = 0; i < daily.size(); ++i) {
    const CDayRecord& bar = daily[i];
    if (i > 0 && starts(daily[i - 1], bar)) {
      result.push_back(p);
      p.open = 0.0;
    }
    if (p.open == 0.0) {
      p = bar;
      p.rawClose = bar.close;
    } else {
      p.high = std::max(p.high, bar.high);
      p.low = std::min(p.low, bar.low);
      p.close = p.rawClose = bar.close;
      p.volume += bar.volume;
    }
  }
  if (p.open != 0.0) result.push_back(p);
  return result;
}

// True when a Sunday lies on a day from `prev` to `next`, both included.
bool StartsWeek(const CDayRecord& prev, const CDayRecord& next) {
  const CDate from = prev.Date();
  const int weekday = from.Weekday();
  if (weekday < 0) return true;  // no calendar date: every bar a period
  const int32_t toSunday = (7 - weekday) % 7;
  return next.Date().DaysBetween(from) >= toSunday;
}

// Months are compared as running numbers (year * 12 + month), so that the
// same month of another year is another period even without bars between.
bool StartsMonth(const CDayRecord& prev, const CDayRecord& next) {
  const CDate a = prev.Date();
  const CDate b = next.Date();
  return a.year * 12 + a.month != b.year * 12 + b.month;
}

}  // namespace

CChart::LocalTime CChart::LocalTime::Now() {
  LocalTime now;
  std::time_t seconds = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&seconds, &local) != nullptr) {
    now.today = CDate(static_cast<uint32_t>(local.tm_year + 1900),
                      static_cast<uint32_t>(local.tm_mon + 1),
                      static_cast<uint32_t>(local.tm_mday));
    now.hour = local.tm_hour;
  }
  return now;
}

// ---- Virtual operations ---------------------------------------------------

bool CChart::Find(uint32_t date, int32_t& index, int32_t mode) const {
  return FindDated(*this, date, mode, index,
                   [](const CDayRecord& bar) { return bar.DateNumber(); });
}

CDate CChart::DateAt(int32_t index) const {
  const size_t count = size();
  if (index < 0 || count == 0) return CDate();
  if (static_cast<size_t>(index) < count) return (*this)[index].Date();
  CDate date = (*this)[count - 1].Date();
  for (size_t i = count - 1; i < static_cast<size_t>(index); ++i) {
    date = NextDate(date.ToNumber());
  }
  return date;
}

CDate CChart::NextDate(uint32_t date) const {
  CDate d;
  if (d.FromNumber(date)) d.NextBusinessDay();
  return d;
}

CDate CChart::PrevDate(uint32_t date) const {
  CDate d;
  if (d.FromNumber(date)) d.PrevBusinessDay();
  return d;
}

std::string CChart::UnitName() const { return "日"; }

uint32_t CChart::WeekKey(uint32_t date) {
  CDate d;
  if (!d.FromNumber(date)) return date;
  if (d.Weekday() != 0) (void)d.PrevDayOfWeek(0);  // 0 is a weekday number
  d.NextBusinessDay();
  return d.ToNumber();
}

uint32_t CChart::MonthKey(uint32_t date) {
  CDate d;
  if (!d.FromNumber(date)) return date;
  d.day = 1;
  d.PrevDay();
  d.NextBusinessDay();
  return d.ToNumber();
}

// ---- Loading and saving ---------------------------------------------------

bool CChart::Load(std::unique_ptr<CChartLoader> loader) {
  clear();
  if (!loader) return false;
  return loader->Load(*this) >= 0;
}

bool CChart::Save(std::unique_ptr<CChartSaver> saver) {
  if (!saver) return false;
  return saver->Save(*this) >= 0;
}

void CChart::AppendRecords(const CQuoteItems& records, CChart& chart,
                           bool keep) {
  if (!keep) chart.clear();
  chart.reserve(chart.size() + records.size());
  for (const CQuoteItem& item : records) {
    CDayRecord bar = item.record;
    bar.rawClose = 0.0;
    chart.push_back(bar);
  }
}

void CChart::CopyLast(CChart source, int32_t count) {
  clear();
  if (count <= 0) return;
  const size_t take = std::min(source.size(), static_cast<size_t>(count));
  assign(source.end() - static_cast<std::ptrdiff_t>(take), source.end());
}

// ---- Gaps -----------------------------------------------------------------

int32_t CChart::FillGaps() {
  const size_t n = size();
  if (n < 2) return 0;
  CDate cursor = (*this)[0].Date();
  size_t i = 1;
  int32_t added = 0;
  while (i < n) {
    const CDate before = cursor;
    cursor.NextBusinessDay();
    if (!(before < cursor)) break;  // a date the calendar cannot move
    if (cursor.ToNumber() >= (*this)[i].DateNumber()) {
      ++i;  // the cursor is not reset to the bar's date
    } else {
      push_back(Filler(cursor, (*this)[i - 1].close));
      ++added;
    }
  }
  std::sort(begin(), end(), [](const CDayRecord& a, const CDayRecord& b) {
    return a.DateNumber() < b.DateNumber();
  });
  return added;
}

int32_t CChart::ExtendTo(CDate end) { return ExtendTo(end, LocalTime::Now()); }

int32_t CChart::ExtendTo(CDate end, const LocalTime& now) {
  if (empty()) return 0;
  if (end >= now.today) {
    end = now.today;
    if (now.today.IsBusinessDay() && now.hour < 15) end.PrevBusinessDay();
  }
  const double close = back().close;
  CDate d = back().Date();
  d.NextBusinessDay();
  int32_t added = 0;
  while (d <= end) {
    push_back(Filler(d, close));
    ++added;
    const CDate before = d;
    d.NextBusinessDay();
    if (!(before < d)) break;  // a date the calendar cannot move
  }
  return added;
}

bool CChart::FindGap(CDate* firstMissing) const {
  if (size() < 2) return false;
  CDate expected = (*this)[0].Date();
  for (size_t i = 1; i < size(); ++i) {
    expected.NextBusinessDay();
    if ((*this)[i].DateNumber() != expected.ToNumber()) {
      if (firstMissing != nullptr) *firstMissing = expected;
      return true;
    }
  }
  return false;
}

void CChart::TrimLeading() {
  auto first = std::find_if_not(begin(), end(), HasZeroPrice);
  erase(begin(), first);
}

void CChart::Dump(std::FILE* out) const {
  for (const CDayRecord& bar : *this) {
    PrintCp932(out, StringFormat(
        "[日付:%u][始値:%.2f][高値:%.2f][安値:%.2f][終値:%.2f][出来高:%.0f]\n",
        bar.DateNumber(), bar.open, bar.high, bar.low, bar.close,
        bar.volume));
  }
}

// ---- Period series ----------------------------------------------------------

CWeekChart CChart::ToWeekChart() const {
  return Fold<CWeekChart>(*this, StartsWeek);
}

CMonthChart CChart::ToMonthChart() const {
  return Fold<CMonthChart>(*this, StartsMonth);
}
