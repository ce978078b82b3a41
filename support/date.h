#ifndef TICKORA_SUPPORT_DATE_H_
#define TICKORA_SUPPORT_DATE_H_

#include <compare>
#include <cstdint>
#include <ctime>
#include <string>

// A CDate is a calendar date (year, month, day) that also knows the trading
// calendar of the Japanese stock market: Sundays, the historical Saturday
// closings, the year-end and new-year closing days and the national holidays
// with their substitute and in-between days. It is a plain value: copy it
// freely. 0/0/0 is the empty date.
//
// The date number of a date is year * 10000 + month * 100 + day (20240315);
// dates compare by it, and files and tables store it.
//
// Weekday numbers run from 0 (Sunday) to 6 (Saturday).
//
// Impossible dates. Parse and FromNumber accept a day up to 31 in every
// month, so a date such as 2024/2/31 can exist. Such a date stands for the
// day it would be counted as if the days ran on past the end of the month
// (2024/2/31 is 2024/3/2), and a month outside 1-12 runs on into the years
// around it. Arithmetic and the calendar questions use that reading:
// DaysBetween, DayOfYear and Weekday count it, every move yields a real date,
// and IsBusinessDay and the others answer for the real date. Comparisons and
// the text forms use the fields as they stand. Normalized() gives the real
// date explicitly.
//
// The calendar starts at 0001-01-01. A date with year 0 (the empty date
// among them) has no neighbours: every move leaves it unchanged, it is no
// holiday, weekend or trading day, and DaysBetween and BusinessDaysBetween
// give 0 with it. A move that would go before 0001-01-01 leaves the date
// unchanged.
//
// Results are plain values: booleans for questions and for operations that
// can refuse, 0 or -1 where a number is undefined (noted below). Nothing
// throws.
class CDate {
 public:
  uint32_t year = 0;
  uint32_t month = 0;
  uint32_t day = 0;

  CDate() = default;
  CDate(uint32_t y, uint32_t m, uint32_t d) : year(y), month(m), day(d) {}

  // ---- Construction and conversion -------------------------------------

  // Sets the date from a date number whose month is 1-12 and day 1-31 (any
  // year) and returns true. 0 sets the empty date and returns false; any
  // other number leaves the date unchanged and returns false.
  [[nodiscard]] bool FromNumber(uint32_t number);

  // Reads a date from byte text (CP932). Accepted, after up to 254 leading
  // blanks and within the next 255 bytes:
  //   "20240315", "240315"             exactly 8 or 6 digits
  //   "2024/3/15", "2024-03-15 09:00"  "/", "-", "." separated
  //   "2024年3月15日"                   year, month and day marks
  //   "Mar 15, 2024"                   English month name, day, year
  // The month must be 1-12 and the day 1-31; a two-digit year below 71 means
  // 20xx, otherwise 19xx. A negative year, or one whose date number would not
  // fit in 32 bits, is refused. On false the date is unchanged. Any bytes
  // are safe; the const char* form reads no further than needed and takes
  // nullptr as "not a date".
  [[nodiscard]] bool Parse(const std::string& text);
  [[nodiscard]] bool Parse(const char* text);

  // Today's local date.
  static CDate Today();

  // The local date of an instant in seconds since 1970; the empty date when
  // the instant cannot be converted.
  static CDate FromTime(std::time_t seconds);

  [[nodiscard]] uint32_t ToNumber() const { return year * 10000u + month * 100u + day; }

  // Text forms, for 2024/3/5:
  //   0 "2024/3/5"        1 "24/3"       2 "2024/3/5(火)"
  //   3 "今日" or "昨日" when the date is today or yesterday, else as 2
  //   4 "24/3/5"          5 "20240305"   6 "2024"
  //   7 "2024" in January, else as 1     8 "2024-03-05"
  // A date with a zero field shows dashes instead ("----/--/--" for 0 and 8,
  // "--/--" for 1 and 7, "----/--/--(--)" for 2 and 3, "--/--/--" for 4,
  // "----" for 6); style 5 always shows the number. Any other style gives
  // an empty text. The weekday name of a date whose month or day is out of
  // range is "--".
  std::string Format(int style) const;
  // The same, with `today` standing in for the local clock in style 3.
  std::string Format(int style, const CDate& today) const;

  // ---- Calendar arithmetic ----------------------------------------------
  //
  // Operations named as moves (NextDay, NextBusinessDay, AddMonths, ...)
  // change this date in place. AddDays and SubDays return a new date and
  // leave this one as it is; AddDaysInPlace and SubDaysInPlace move it.

  void NextDay();
  void PrevDay();

  // n days later or earlier. For n below 1 the date comes back unchanged
  // (an impossible date is not normalised then).
  CDate AddDays(int32_t n) const;
  CDate SubDays(int32_t n) const;
  void AddDaysInPlace(int32_t n) { *this = AddDays(n); }
  void SubDaysInPlace(int32_t n) { *this = SubDays(n); }

  // This date minus `other` in days: negative when this date is earlier.
  [[nodiscard]] int32_t DaysBetween(const CDate& other) const;

  // 0 for 1 January; days past the end of a month count on, so for a year
  // from 1 this equals DaysBetween(CDate(year, 1, 1)). -1 when the month is
  // out of 1-12.
  [[nodiscard]] int32_t DayOfYear() const;

  // 0 (Sunday) to 6 (Saturday); -1 when the month is out of 1-12 or the day
  // out of 1-31.
  [[nodiscard]] int Weekday() const;

  // 28-31; 0 for a month out of 1-12.
  [[nodiscard]] static uint32_t DaysInMonth(uint32_t month, uint32_t year);

  // Divisible by 4 and not by 100, or divisible by 400.
  [[nodiscard]] static bool IsLeapYear(uint32_t year);
  [[nodiscard]] bool IsLeapYear() const { return IsLeapYear(year); }

  // Adds n months to year and month; the day stays as it is, even when the
  // new month is shorter. A result before year 1 leaves the date unchanged.
  void AddMonths(int32_t n);

  // (this year - other year) * 12 + (this month - other month).
  [[nodiscard]] int32_t MonthsBetween(const CDate& other) const;

  // The real date this one stands for (see "Impossible dates" above).
  CDate Normalized() const;

  // ---- Trading calendar -------------------------------------------------

  [[nodiscard]] bool IsHoliday() const;          // a national holiday
  [[nodiscard]] bool IsSaturdayClosed() const;   // a Saturday on which the market was closed
  [[nodiscard]] bool IsBusinessDay() const;      // a trading day
  [[nodiscard]] bool IsWeekend() const;          // Saturday or Sunday
  [[nodiscard]] bool IsBusinessFriday() const;   // a Friday that is a trading day

  // True when this is the first trading day of its month.
  [[nodiscard]] bool IsFirstBusinessDayOfMonth() const;

  // The day of the month of the last trading day of this date's month.
  [[nodiscard]] uint32_t LastBusinessDayOfMonth() const;

  // For March, June, September and December: the day of the month of the
  // trading day before the second Friday. 0 for other months.
  [[nodiscard]] uint32_t FuturesLastTradingDay() const;
  [[nodiscard]] bool IsFuturesLastTradingDay() const;

  // Move at least one day, to the next or previous trading day.
  void NextBusinessDay();
  void PrevBusinessDay();

  // Moves back at least one day to the previous Monday-Friday date; holidays
  // do not count.
  void PrevWeekday();

  // Move at least one day to the previous or next date with weekday w.
  // A w outside 0-6 leaves the date unchanged and gives false.
  [[nodiscard]] bool PrevDayOfWeek(int w);
  [[nodiscard]] bool NextDayOfWeek(int w);

  // Moves at least one day forward to the next Friday that is a trading day.
  void NextBusinessFriday();

  // The 1st of the next (previous) month, or the first trading day after it
  // when the 1st is not one.
  void FirstBusinessDayOfNextMonth();
  void FirstBusinessDayOfPrevMonth();

  // Weeks run from Monday to Sunday. On a Sunday: the next trading day;
  // otherwise the first trading day after the next Sunday.
  void FirstBusinessDayOfNextWeek();
  // 14 days back, then FirstBusinessDayOfNextWeek: the first trading day of
  // the week before this date's week.
  void FirstBusinessDayOfPrevWeek();

  // Moves n trading days forward (n > 0) or back (n < 0); 0 leaves the date.
  void AddBusinessDays(int32_t n);

  // The trading days met when stepping from `other` to this date one day at
  // a time, not counting `other` itself: positive when this date is later,
  // negative when earlier, 0 when both are the same day.
  [[nodiscard]] int32_t BusinessDaysBetween(const CDate& other) const;

  // ---- Comparison by date number ----------------------------------------

  bool operator==(const CDate& other) const {
    return ToNumber() == other.ToNumber();
  }
  std::strong_ordering operator<=>(const CDate& other) const {
    return ToNumber() <=> other.ToNumber();
  }

 private:
  [[nodiscard]] bool ParseBytes(const char* text, std::size_t length);
};

#endif  // TICKORA_SUPPORT_DATE_H_
