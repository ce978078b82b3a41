#include "support/date.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace {

// A date from its date number, fields taken as they stand.
CDate D(uint32_t n) { return CDate(n / 10000, n / 100 % 100, n % 100); }

TEST(DateParse, EveryFormAndYearCompletion) {
  const struct { const char* text; uint32_t want; } kCases[] = {
      {"20240315", 20240315}, {"240315", 20240315}, {"2024/3/15", 20240315},
      {"2024-03-15 00:00:00", 20240315}, {"2024.3.15", 20240315},
      {"2024年3月15日", 20240315}, {"Mar 15, 2024", 20240315},
      {"   2024/3/15", 20240315}, {"JAN 5, 2024", 20240105},
      {"24年3月5日", 20240305}, {"700101", 20700101}, {"710101", 19710101},
      {"00/1/1", 20000101}, {"99/12/31", 19991231}, {"2024/2/31", 20240231},
      {"0429496/12/31", 4294961231u}, {"2024年3月1\x94", 20240301},
      // Double-byte aware: the trail byte 0x94 and "N" are not a year mark.
      {"2024年3" "\x88\x94" "N4月5日", 20240305},
  };
  for (const auto& c : kCases) {
    CDate d;
    EXPECT_TRUE(d.Parse(std::string(c.text))) << c.text;
    EXPECT_EQ(d.ToNumber(), c.want) << c.text;
  }
}

TEST(DateParse, RefusalsLeaveTheDateUnchanged) {
  const char* kBad[] = {
      "", "   ", "2024/13/01", "2024/2/32", "2024/3", "2024/0/10", "12345",
      "2024031", "120240315", "202403/15", "abc", "Foo 15, 2024", "Mar 15",
      "Marc 15, 2024", "Mar 15,    -2024", "4294970/1/1", "0429497/1/1",
      "2024年3月", "2024年", "2024年3" "\x88\x94" "N4月"};
  for (const char* text : kBad) {
    CDate d(1999, 9, 9);
    EXPECT_FALSE(d.Parse(std::string(text))) << text;
    EXPECT_EQ(d.ToNumber(), 19990909u) << text;
  }
  CDate d(1999, 9, 9);
  EXPECT_FALSE(d.Parse(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(d.Parse(std::string(255, ' ') + "2024/3/15"));
  EXPECT_FALSE(d.Parse(std::string(1 << 20, '1')));
  EXPECT_TRUE(d.Parse(std::string(254, ' ') + "2024/3/15"));
}

TEST(DateParse, GarbageNeverCrashesAndYieldsOnlyInRangeDates) {
  const std::string alphabet = std::string("0123456789/.-, JanMarDec+\t\xff") +
                               std::string("年月日", 6) + std::string(1, '\0');
  std::mt19937 rng(12345);
  for (int i = 0; i < 20000; ++i) {
    // Half noise, half a real date text with a few bytes changed.
    std::string text;
    if (i % 2 == 0) {
      text.assign(rng() % 40 + (i % 100 == 0 ? 600 : 0), '\0');
      for (char& c : text) {
        c = rng() % 4 ? alphabet[rng() % alphabet.size()] : char(rng());
      }
    } else {
      text = CDate(rng() % 3000, rng() % 14, rng() % 33)
                 .Format(rng() % 9, CDate());
      if (i % 3 == 0) text = "Sep " + std::to_string(rng() % 33) + ", " + text;
      for (uint32_t k = rng() % 4; k > 0 && !text.empty(); --k) {
        const std::size_t at = rng() % text.size();
        rng() % 2 ? text.erase(at, rng() % 3)
                  : text.insert(at, 1, char(rng()));
      }
    }
    CDate a(1, 2, 3), b(1, 2, 3);
    const bool ok = a.Parse(text);
    if (ok) {
      EXPECT_TRUE(a.month >= 1 && a.month <= 12 && a.day >= 1 &&
                  a.day <= 31 && a.year >= 100 && a.year <= 429496);
    } else {
      EXPECT_EQ(a.ToNumber(), 10203u);
    }
    if (text.find('\0') == std::string::npos) {
      EXPECT_EQ(b.Parse(text.c_str()), ok);
      EXPECT_EQ(b, a);
    }
  }
}

TEST(DateConvert, FromNumberFromTimeAndRoundTrips) {
  CDate d(2024, 3, 5);
  EXPECT_FALSE(d.FromNumber(20241301) || d.FromNumber(20240300));
  EXPECT_EQ(d.ToNumber(), 20240305u);
  EXPECT_TRUE(d.FromNumber(50231));  // any year, any day up to 31
  EXPECT_EQ(d, CDate(5, 2, 31));
  EXPECT_FALSE(d.FromNumber(0));
  EXPECT_EQ(d.Format(0) + d.Format(5), "----/--/--0");

  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const uint32_t y = 1000 + rng() % 9000, m = 1 + rng() % 12;
    const CDate date(y, m, 1 + rng() % CDate::DaysInMonth(m, y));
    for (int style : {0, 2, 5, 8}) {
      CDate back;
      EXPECT_TRUE(back.Parse(date.Format(style))) << date.Format(style);
      EXPECT_EQ(back, date);
    }
    EXPECT_TRUE(d.FromNumber(date.ToNumber()) && d == date);
  }

  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  EXPECT_EQ(CDate::FromTime(0), CDate(1970, 1, 1));
  EXPECT_EQ(CDate::FromTime(1709596800), CDate(2024, 3, 5));
  setenv("TZ", "JST-9", 1);
  tzset();
  EXPECT_EQ(CDate::FromTime(15 * 3600), CDate(1970, 1, 2));
  old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
}

TEST(DateFormat, EveryStyleValidAndEmpty) {
  const CDate d(2024, 3, 5), today(2030, 1, 1);
  const std::string kValid[] = {"2024/3/5", "24/3", "2024/3/5(火)",
                                "2024/3/5(火)", "24/3/5", "20240305", "2024",
                                "24/3", "2024-03-05"};
  const std::string kEmpty[] = {"----/--/--", "--/--", "----/--/--(--)",
                                "----/--/--(--)", "--/--/--", "0", "----",
                                "--/--", "----/--/--"};
  for (int style = 0; style <= 8; ++style) {
    EXPECT_EQ(d.Format(style, today), kValid[style]) << style;
    EXPECT_EQ(CDate().Format(style, today), kEmpty[style]) << style;
  }
  EXPECT_EQ(CDate(2005, 1, 9).Format(7), "2005");
  EXPECT_EQ(CDate(2005, 11, 9).Format(1), "05/11");
  EXPECT_EQ(CDate(2024, 0, 5).Format(5), "20240005");
  EXPECT_EQ(CDate(2024, 13, 5).Format(2), "2024/13/5(--)");
  EXPECT_EQ(d.Format(9) + d.Format(-1), "");
  EXPECT_EQ(d.Format(3, d), "今日");
  EXPECT_EQ(d.Format(3, CDate(2024, 3, 6)), "昨日");
  EXPECT_EQ(CDate(2023, 12, 31).Format(3, CDate(2024, 1, 1)), "昨日");
  EXPECT_EQ(d.Format(3, CDate(2024, 3, 7)), "2024/3/5(火)");
}

TEST(DateArithmetic, ClosedFormsAgreeWithStepping) {
  const CDate start(1899, 12, 25);
  CDate cur = start;
  const int w = start.Weekday();
  for (int i = 1; i <= 80000; ++i) {
    CDate next = cur;
    next.NextDay();
    const bool same_month = next.year == cur.year &&
                            next.month == cur.month && next.day == cur.day + 1;
    const bool new_month =
        next.day == 1 && cur.day == CDate::DaysInMonth(cur.month, cur.year) &&
        (next.month == cur.month + 1 ||
         (cur.month == 12 && next.month == 1 && next.year == cur.year + 1));
    ASSERT_TRUE(same_month || new_month) << cur.Format(0);
    ASSERT_EQ(next.Weekday(), (w + i) % 7) << next.Format(0);
    ASSERT_EQ(next.DaysBetween(start), i);
    ASSERT_EQ(start.DaysBetween(next), -i);
    ASSERT_EQ(next.DayOfYear(), next.DaysBetween(CDate(next.year, 1, 1)));
    ASSERT_EQ(start.AddDays(i), next);
    ASSERT_EQ(next.SubDays(i), start);
    CDate back = next;
    back.PrevDay();
    ASSERT_EQ(back, cur);
    cur = next;
  }
  EXPECT_EQ(CDate(2024, 3, 5).Weekday(), 2);
  EXPECT_EQ(CDate(2024, 3, 1).DaysBetween(CDate(2024, 2, 28)), 2);
  EXPECT_EQ(CDate(2024, 2, 28).DaysBetween(CDate(2024, 3, 1)), -2);
  EXPECT_EQ(CDate(1900, 3, 1).DaysBetween(CDate(1900, 2, 28)), 1);
  EXPECT_EQ(CDate(2000, 1, 1).DaysBetween(CDate(1970, 1, 1)), 10957);
  EXPECT_EQ(CDate(2024, 12, 31).DayOfYear(), 365);
  EXPECT_EQ(CDate::DaysInMonth(2, 1900) + CDate::DaysInMonth(2, 2000) +
                CDate::DaysInMonth(4, 2023) + CDate::DaysInMonth(13, 2023),
            28u + 29u + 30u + 0u);
  EXPECT_TRUE(CDate(2024, 1, 1).IsLeapYear() && !CDate::IsLeapYear(2100));
  CDate d(2024, 1, 31);
  d.AddMonths(1);
  EXPECT_EQ(d, CDate(2024, 2, 31));  // the day stays
  d.AddMonths(-14);
  EXPECT_EQ(d, CDate(2022, 12, 31));
  EXPECT_EQ(CDate(2025, 1, 1).MonthsBetween(CDate(2023, 12, 31)), 13);
  EXPECT_EQ(CDate(2023, 12, 1).MonthsBetween(CDate(2025, 1, 31)), -13);
}

TEST(DateArithmetic, ImpossibleAndEmptyDates) {
  const CDate odd(2024, 2, 31);  // stands for 2024-03-02, a Saturday
  EXPECT_EQ(odd.Normalized(), CDate(2024, 3, 2));
  EXPECT_EQ(odd.DaysBetween(CDate(2024, 3, 1)), 1);
  EXPECT_EQ(odd.Weekday(), 6);
  EXPECT_EQ(odd.DayOfYear(), 61);
  EXPECT_EQ(odd.AddDays(0), odd);
  EXPECT_EQ(odd.SubDays(-4), odd);
  EXPECT_EQ(odd.AddDays(1), CDate(2024, 3, 3));
  CDate d = odd;
  d.PrevDay();
  EXPECT_EQ(d, CDate(2024, 3, 1));
  d = odd;
  d.NextBusinessDay();
  EXPECT_EQ(d, CDate(2024, 3, 4));
  d = odd;
  d.AddDaysInPlace(3);
  d.SubDaysInPlace(1);
  EXPECT_EQ(d, CDate(2024, 3, 4));
  EXPECT_TRUE(CDate(2023, 13, 4).IsBusinessDay());  // 2024-01-04
  EXPECT_FALSE(CDate(2023, 13, 3).IsBusinessDay());
  EXPECT_LT(CDate(2024, 2, 31), CDate(2024, 3, 1));  // by date number

  CDate empty;
  empty.NextDay();
  empty.PrevBusinessDay();
  empty.AddMonths(5);
  empty.FirstBusinessDayOfNextWeek();
  EXPECT_EQ(empty, CDate());
  EXPECT_FALSE(empty.IsBusinessDay() || empty.IsWeekend() ||
               empty.IsHoliday());
  EXPECT_EQ(CDate(2024, 1, 1).DaysBetween(empty), 0);
  CDate first(1, 1, 1);
  first.PrevBusinessDay();  // nothing before 0001-01-01
  EXPECT_EQ(first, CDate(1, 1, 1));
}

TEST(DateCalendar, HolidaysAtEveryBoundary) {
  const uint32_t kYes[] = {
      19990115, 20000110, 19730211, 20200223, 19890224, 19790321,
      19800320, 20240320, 19590410, 20240429, 19860504, 20190501,
      19930609, 19960720, 20020720, 20030721, 20200723, 20200724,
      20210722, 20210723, 20220718, 20160811, 20200810, 20210808,
      20220811, 20020915, 20040920, 19790924, 19800923, 20090921,
      20090922, 20090923, 20150922, 19991010, 20001009, 20191022,
      20191014, 20221010, 20241103, 19901112, 19891223, 20181223,
  };
  const uint32_t kNo[] = {
      20000115, 19990111, 20190223, 19900224, 20240319, 19600410,
      19850504, 20180501, 19940609, 19950720, 20030720, 20200720,
      20210719, 20150811, 20200811, 20210811, 20040915, 20240917,
      20001010, 20201012, 20211011, 19911112, 19881223, 20191223,
      20240102,
  };
  for (uint32_t date : kYes) EXPECT_TRUE(D(date).IsHoliday()) << date;
  for (uint32_t date : kNo) EXPECT_FALSE(D(date).IsHoliday()) << date;
}

TEST(DateCalendar, SaturdayClosingsByYearAndOrdinal) {
  // Bit k set: the k-th Saturday of the month was closed.
  const struct { uint32_t year, month, closed; } kCases[] = {
      {1982, 2, 1 << 3}, {1983, 7, 1 << 3}, {1983, 8, 1 << 2},
      {1984, 5, 1 << 2}, {1985, 1, 1 << 2}, {1986, 7, 1 << 2},
      {1986, 8, 3 << 2}, {1987, 6, 3 << 2}, {1988, 10, 3 << 2},
      {1989, 1, 0x2e},   {1989, 2, 0x3e},   {1990, 1, 0x3e},
      {2024, 3, 0x3e},
  };
  for (const auto& c : kCases) {
    for (uint32_t day = 1; day <= CDate::DaysInMonth(c.month, c.year); ++day) {
      const CDate d(c.year, c.month, day);
      const bool closed =
          d.Weekday() == 6 && (c.closed >> ((day - 1) / 7 + 1) & 1);
      EXPECT_EQ(d.IsSaturdayClosed(), closed) << d.Format(0);
      if (d.Weekday() == 6 && !d.IsHoliday()) {
        EXPECT_EQ(d.IsBusinessDay(), !closed) << d.Format(0);
      }
    }
  }
}

TEST(DateCalendar, TradingDayRules) {
  const uint32_t kYes[] = {
      20240104, 20241230, 19881228, 19891229, 20240319, 20190507,
      19711011, 20030506, 19980506,
  };
  const uint32_t kNo[] = {
      20240102, 20241231, 19881229, 20240320, 20240317, 20190430,
      20190502, 20190506, 19730212, 20210809, 20080506, 20090506,
      19830504, 19850504, 20240106,
  };
  for (uint32_t date : kYes) EXPECT_TRUE(D(date).IsBusinessDay()) << date;
  for (uint32_t date : kNo) EXPECT_FALSE(D(date).IsBusinessDay()) << date;
}

TEST(DateCalendar, NavigationLandsOnTheRightDay) {
  using C = CDate;
  const struct { uint32_t from; void (CDate::*move)(); uint32_t to; } kCases[] = {
      {20240315, &C::NextBusinessDay, 20240318},
      {20240319, &C::NextBusinessDay, 20240321},
      {20231229, &C::NextBusinessDay, 20240104},
      {20240104, &C::PrevBusinessDay, 20231229},
      {20240318, &C::PrevWeekday, 20240315},
      {20240321, &C::PrevWeekday, 20240320},
      {20240315, &C::NextBusinessFriday, 20240322},
      {20240429, &C::NextBusinessFriday, 20240510},
      {20231215, &C::FirstBusinessDayOfNextMonth, 20240104},
      {20240331, &C::FirstBusinessDayOfNextMonth, 20240401},
      {20240210, &C::FirstBusinessDayOfPrevMonth, 20240104},
      {20240317, &C::FirstBusinessDayOfNextWeek, 20240318},
      {20240316, &C::FirstBusinessDayOfNextWeek, 20240318},
      {20240319, &C::FirstBusinessDayOfNextWeek, 20240325},
      {20240208, &C::FirstBusinessDayOfNextWeek, 20240213},
      {20240320, &C::FirstBusinessDayOfPrevWeek, 20240311},
      {20240317, &C::FirstBusinessDayOfPrevWeek, 20240304},
  };
  for (const auto& c : kCases) {
    CDate d = D(c.from);
    (d.*c.move)();
    EXPECT_EQ(d.ToNumber(), c.to) << c.from;
  }
  CDate d(2024, 3, 20);
  EXPECT_TRUE(d.PrevDayOfWeek(3) && d == CDate(2024, 3, 13));
  EXPECT_TRUE(d.NextDayOfWeek(0) && d == CDate(2024, 3, 17));
  EXPECT_FALSE(d.NextDayOfWeek(7) || d != CDate(2024, 3, 17));
}

TEST(DateCalendar, BusinessDayCountsAndMonthQuestions) {
  CDate d(2024, 3, 19);
  d.AddBusinessDays(1);  // over the equinox
  EXPECT_EQ(d, CDate(2024, 3, 21));
  d.AddBusinessDays(-2);
  d.AddBusinessDays(0);
  EXPECT_EQ(d, CDate(2024, 3, 18));
  for (int32_t n : {1, 7, 40, -1, -9, -300}) {
    CDate moved = d;
    moved.AddBusinessDays(n);
    EXPECT_EQ(moved.BusinessDaysBetween(d), n);
    EXPECT_EQ(d.BusinessDaysBetween(moved), -n);
  }
  EXPECT_EQ(D(20240316).BusinessDaysBetween(D(20240315)), 0);
  EXPECT_EQ(D(20240315).BusinessDaysBetween(D(20240316)), -1);

  const struct { uint32_t date, last, futures; } kMonths[] = {
      {20240315, 29, 7}, {20240601, 28, 13}, {20240901, 30, 12},
      {20241201, 30, 12}, {19881201, 28, 8}, {20240801, 30, 0},
  };
  for (const auto& c : kMonths) {
    EXPECT_EQ(D(c.date).LastBusinessDayOfMonth(), c.last) << c.date;
    EXPECT_EQ(D(c.date).FuturesLastTradingDay(), c.futures) << c.date;
  }
  const struct { uint32_t date; bool (CDate::*ask)() const; bool want; }
      kQuestions[] = {
          {20240307, &CDate::IsFuturesLastTradingDay, 1},
          {20240308, &CDate::IsFuturesLastTradingDay, 0},
          {20240407, &CDate::IsFuturesLastTradingDay, 0},
          {20240104, &CDate::IsFirstBusinessDayOfMonth, 1},
          {20240105, &CDate::IsFirstBusinessDayOfMonth, 0},
          {20240401, &CDate::IsFirstBusinessDayOfMonth, 1},
          {20240315, &CDate::IsBusinessFriday, 1},
          {20240503, &CDate::IsBusinessFriday, 0},
          {20240316, &CDate::IsWeekend, 1},
          {20240317, &CDate::IsWeekend, 1},
          {20240318, &CDate::IsWeekend, 0},
      };
  for (const auto& c : kQuestions) {
    EXPECT_EQ((D(c.date).*c.ask)(), c.want) << c.date;
  }
}

}  // namespace
