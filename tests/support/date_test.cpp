#include "support/date.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/common/scoped_env.h"

namespace {

// A date from its date number, fields taken as they stand.
CDate D(uint32_t n) { return CDate(n / 10000, n / 100 % 100, n % 100); }

// `d` after the move `move(args...)`.
template <typename Move, typename... Args>
CDate After(CDate d, Move move, Args... args) {
  (d.*move)(args...);
  return d;
}

TEST(DateParse, EveryFormYearCompletionAndRefusal) {
  // want 0: refused, and the date keeps its old value.
  const struct { std::string text; uint32_t want; } kCases[] = {
      {"20240315", 20240315}, {"240315", 20240315}, {"2024/3/15", 20240315},
      {"2024-03-15 00:00:00", 20240315}, {"2024.3.15", 20240315}, {"2024年3月15日", 20240315},
      {"Mar 15, 2024", 20240315}, {"JAN 5, 2024", 20240105}, {"24年3月5日", 20240305},
      {"700101", 20700101}, {"710101", 19710101}, {"00/1/1", 20000101}, {"99/12/31", 19991231},
      {"2024/2/31", 20240231}, {"0429496/12/31", 4294961231u}, {"2024年3月1\x94", 20240301},
      // Double-byte aware: the trail byte 0x94 and "N" are not a year mark.
      {"2024年3" "\x88\x94" "N4月5日", 20240305}, {"2024年3" "\x88\x94" "N4月", 0},
      {std::string(254, ' ') + "2024/3/15", 20240315}, {std::string(255, ' ') + "2024/3/15", 0},
      {std::string(1 << 20, '1'), 0}, {"", 0}, {"   ", 0}, {"2024/13/01", 0}, {"2024/2/32", 0},
      {"2024/3", 0}, {"2024/0/10", 0}, {"12345", 0}, {"2024031", 0}, {"120240315", 0},
      {"202403/15", 0}, {"abc", 0}, {"Foo 15, 2024", 0}, {"Mar 15", 0}, {"Marc 15, 2024", 0},
      {"Mar 15,    -2024", 0}, {"4294970/1/1", 0}, {"0429497/1/1", 0}, {"2024年3月", 0},
      {"2024年", 0}};
  for (const auto& [text, want] : kCases) {
    CDate d(1999, 9, 9);
    EXPECT_EQ(d.Parse(text), want != 0) << text;
    EXPECT_EQ(d.ToNumber(), want ? want : 19990909u) << text;
  }
  EXPECT_FALSE(CDate().Parse(static_cast<const char*>(nullptr)));
}

// Date numbers, taken or refused, and dates round tripping through them
// are the date_parse fuzz target's part.
TEST(DateConvert, FromTime) {
  const struct { const char* tz; std::time_t at; CDate want; } kTimes[] = {
      {"UTC0", 0, CDate(1970, 1, 1)}, {"UTC0", 1709596800, CDate(2024, 3, 5)},
      {"JST-9", 15 * 3600, CDate(1970, 1, 2)}};
  for (const auto& c : kTimes) {
    ScopedEnv tz("TZ", c.tz);
    tzset();
    EXPECT_EQ(CDate::FromTime(c.at), c.want) << c.tz << " " << c.at;
  }
  tzset();
}

TEST(DateFormat, EveryStyleValidEmptyAndOdd) {
  const std::string kValid[] = {"2024/3/5", "24/3", "2024/3/5(火)", "2024/3/5(火)", "24/3/5",
                                "20240305", "2024", "24/3", "2024-03-05"};
  const std::string kEmpty[] = {"----/--/--", "--/--", "----/--/--(--)", "----/--/--(--)",
                                "--/--/--", "0", "----", "--/--", "----/--/--"};
  for (int style = 0; style <= 8; ++style) {
    EXPECT_EQ(D(20240305).Format(style, D(20300101)), kValid[style]) << style;
    EXPECT_EQ(CDate().Format(style, D(20300101)), kEmpty[style]) << style;
  }
  const struct { uint32_t date; int style; uint32_t today; const char* want; } kCases[] = {
      {20050109, 7, 0, "2005"}, {20051109, 1, 0, "05/11"}, {20240005, 5, 0, "20240005"},
      {20241305, 2, 0, "2024/13/5(--)"}, {20240305, 9, 0, ""}, {20240305, -1, 0, ""},
      {20240305, 3, 20240305, "今日"}, {20240305, 3, 20240306, "昨日"},
      {20231231, 3, 20240101, "昨日"}, {20240305, 3, 20240307, "2024/3/5(火)"}};
  for (auto& c : kCases) EXPECT_EQ(D(c.date).Format(c.style, D(c.today)), c.want) << c.date;
}

TEST(DateArithmetic, AnchorsLeapYearsAndOddDates) {
  // Day-by-day stepping against the closed forms is the date_parse fuzz
  // target's check, from each seed's date on.
  EXPECT_EQ(CDate::DaysInMonth(2, 1900) + CDate::DaysInMonth(2, 2000) +
                CDate::DaysInMonth(4, 2023) + CDate::DaysInMonth(13, 2023),
            28u + 29u + 30u + 0u);
  EXPECT_TRUE(CDate(2024, 1, 1).IsLeapYear() && !CDate::IsLeapYear(2100));
  EXPECT_EQ(CDate(2025, 1, 1).MonthsBetween(CDate(2023, 12, 31)), 13);
  EXPECT_EQ(CDate(2023, 12, 1).MonthsBetween(CDate(2025, 1, 31)), -13);

  // Impossible dates answer as their real day in the date_parse fuzz
  // target; they compare by date number.
  EXPECT_LT(CDate(2024, 2, 31), CDate(2024, 3, 1));
}

TEST(DateCalendar, DayQuestionsAtEveryBoundary) {
  using C = CDate;
  // 20231304 stands for 2024-01-04; 0 is the empty date.
  const struct { bool (CDate::*ask)() const; std::vector<uint32_t> yes, no; } kCases[] = {
      {&C::IsHoliday,
       {19990115, 20000110, 19730211, 20200223, 19890224, 19790321, 19800320, 20240320, 19590410,
        20240429, 19860504, 20190501, 19930609, 19960720, 20020720, 20030721, 20200723, 20200724,
        20210722, 20210723, 20220718, 20160811, 20200810, 20210808, 20220811, 20020915, 20040920,
        19790924, 19800923, 20090921, 20090922, 20090923, 20150922, 19991010, 20001009, 20191022,
        20191014, 20221010, 20241103, 19901112, 19891223, 20181223},
       {20000115, 19990111, 20190223, 19900224, 20240319, 19600410, 19850504, 20180501, 19940609,
        19950720, 20030720, 20200720, 20210719, 20150811, 20200811, 20210811, 20040915, 20240917,
        20001010, 20201012, 20211011, 19911112, 19881223, 20191223, 20240102, 0}},
      {&C::IsBusinessDay,
       {20240104, 20241230, 19881228, 19891229, 20240319, 20190507, 19711011, 20030506, 19980506,
        20231304},
       {20240102, 20241231, 19881229, 20240320, 20240317, 20190430, 20190502, 20190506, 19730212,
        20210809, 20080506, 20090506, 19830504, 19850504, 20240106, 20231303, 0}},
      {&C::IsFuturesLastTradingDay, {20240307}, {20240308, 20240407}},
      {&C::IsFirstBusinessDayOfMonth, {20240104, 20240401}, {20240105}},
      {&C::IsBusinessFriday, {20240315}, {20240503}},
      {&C::IsWeekend, {20240316, 20240317}, {20240318, 0}}};
  for (const auto& [ask, yes, no] : kCases) {
    for (uint32_t n : yes) EXPECT_TRUE((D(n).*ask)()) << n;
    for (uint32_t n : no) EXPECT_FALSE((D(n).*ask)()) << n;
  }
  const struct { uint32_t date, last, futures; } kMonths[] = {
      {20240315, 29, 7}, {20240601, 28, 13}, {20240901, 30, 12},
      {20241201, 30, 12}, {19881201, 28, 8}, {20240801, 30, 0}};
  for (const auto& c : kMonths) {
    EXPECT_EQ(D(c.date).LastBusinessDayOfMonth(), c.last) << c.date;
    EXPECT_EQ(D(c.date).FuturesLastTradingDay(), c.futures) << c.date;
  }
}

TEST(DateCalendar, SaturdayClosingsByYearAndOrdinal) {
  // Bit k set: the k-th Saturday of the month was closed.
  const struct { uint32_t year, month, closed; } kCases[] = {
      {1982, 2, 1 << 3}, {1983, 7, 1 << 3}, {1983, 8, 1 << 2}, {1984, 5, 1 << 2},
      {1985, 1, 1 << 2}, {1986, 7, 1 << 2}, {1986, 8, 3 << 2}, {1987, 6, 3 << 2},
      {1988, 10, 3 << 2}, {1989, 1, 0x2e}, {1989, 2, 0x3e}, {1990, 1, 0x3e}, {2024, 3, 0x3e}};
  for (const auto& c : kCases) {
    for (uint32_t day = 1; day <= CDate::DaysInMonth(c.month, c.year); ++day) {
      const CDate d(c.year, c.month, day);
      const bool closed = d.Weekday() == 6 && (c.closed >> ((day - 1) / 7 + 1) & 1);
      EXPECT_EQ(d.IsSaturdayClosed(), closed) << d.Format(0);
      EXPECT_TRUE(d.Weekday() != 6 || d.IsHoliday() || d.IsBusinessDay() == !closed) << d.Format(0);
    }
  }
}

TEST(DateCalendar, MovesLandOnTheRightDay) {
  using C = CDate;
  // {from, to} pairs. 20240231 stands for 2024-03-02; 0 is the empty date,
  // which never moves, and nothing comes before 0001-01-01.
  using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
  const std::pair<void (CDate::*)(), Pairs> kMoves[] = {
      {&C::PrevBusinessDay, {{0, 0}, {10101, 10101}}},
      {&C::NextDay, {{0, 0}}},
      {&C::PrevDay, {{20240231, 20240301}}},
      {&C::PrevWeekday, {{20240318, 20240315}, {20240321, 20240320}}},
      {&C::NextBusinessFriday, {{20240315, 20240322}, {20240429, 20240510}}},
      {&C::FirstBusinessDayOfNextMonth, {{20231215, 20240104}, {20240331, 20240401}}},
      {&C::FirstBusinessDayOfPrevMonth, {{20240210, 20240104}}},
      {&C::FirstBusinessDayOfNextWeek, {{20240317, 20240318}, {20240316, 20240318},
                                        {20240319, 20240325}, {20240208, 20240213}, {0, 0}}},
      {&C::FirstBusinessDayOfPrevWeek, {{20240320, 20240311}, {20240317, 20240304}}}};
  for (const auto& [move, pairs] : kMoves) {
    for (auto [from, to] : pairs) EXPECT_EQ(After(D(from), move).ToNumber(), to) << from;
  }
  // The day of a month stays when months are added, even past its end.
  const struct { uint32_t from; void (CDate::*move)(int32_t); int32_t n; uint32_t to; }
      kCounted[] = {{20240318, &C::AddBusinessDays, 0, 20240318},
                    {20240131, &C::AddMonths, 1, 20240231}, {0, &C::AddMonths, 5, 0},
                    {20240231, &C::AddMonths, -14, 20221231},
                    {20240231, &C::AddDaysInPlace, 3, 20240305},
                    {20240231, &C::SubDaysInPlace, 1, 20240301}};
  for (auto& c : kCounted) EXPECT_EQ(After(D(c.from), c.move, c.n).ToNumber(), c.to) << c.from;
  CDate d(2024, 3, 20);
  EXPECT_TRUE(d.PrevDayOfWeek(3) && d == CDate(2024, 3, 13));
  EXPECT_TRUE(d.NextDayOfWeek(0) && d == CDate(2024, 3, 17));
  EXPECT_FALSE(d.NextDayOfWeek(7) || d != CDate(2024, 3, 17));

  // Moves by business days and the count between: the date_parse target.
  EXPECT_EQ(D(20240316).BusinessDaysBetween(D(20240315)), 0);
  EXPECT_EQ(D(20240315).BusinessDaysBetween(D(20240316)), -1);
}

}  // namespace
