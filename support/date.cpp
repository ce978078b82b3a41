#include "support/date.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "support/cp932.h"
#include "support/text.h"

namespace {

// Parse skips at most this many leading blanks and then reads at most
// kParseWindow bytes.
constexpr std::size_t kParseBlanks = 254;
constexpr std::size_t kParseWindow = 255;

// The largest year whose date numbers all fit in 32 bits.
constexpr int64_t kMaxYear = 429496;

constexpr uint32_t kMonthDays[12] = {31, 28, 31, 30, 31, 30,
                                     31, 31, 30, 31, 30, 31};

const char* const kWeekdayNames[7] = {"日", "月", "火", "水", "木", "金", "土"};

// The year, month and day marks of the Kanji form, two bytes each in CP932.
const char kYearMark[] = "年";
const char kMonthMark[] = "月";
const char kDayMark[] = "日";

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }

// Day counts. A serial is the number of days since 1970-01-01 on the
// proleptic Gregorian calendar; the conversions are the usual era-based
// closed forms (an era is the 400-year cycle of 146097 days), so they cost
// the same for any distance.
int64_t SerialFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CDate DateFromSerial(int64_t serial) {
  const int64_t z = serial + 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2);
  return CDate(static_cast<uint32_t>(y), static_cast<uint32_t>(m),
               static_cast<uint32_t>(d));
}

// The serial of 0001-01-01: no move goes before it.
const int64_t kFirstSerial = SerialFromCivil(1, 1, 1);

// The serial of any fields: a month outside 1-12 runs on into the years
// around it, and days past the end of a month (or a day 0) into the months
// around it.
int64_t SerialOf(const CDate& date) {
  const int64_t m0 = static_cast<int64_t>(date.month) - 1;
  const int64_t y = static_cast<int64_t>(date.year) + FloorDiv(m0, 12);
  return SerialFromCivil(y, FloorMod(m0, 12) + 1, 1) +
         static_cast<int64_t>(date.day) - 1;
}

int WeekdayOfSerial(int64_t serial) {
  return static_cast<int>(FloorMod(serial + 4, 7));  // 1970-01-01: Thursday
}

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max()));
}

// Equinox days, truncating the whole expression and the inner division.
uint32_t VernalEquinoxDay(int64_t year) {
  const double base = year >= 1980 ? 20.8431 : 20.8357;
  const int64_t leap = year >= 1980 ? (year - 1980) / 4 : (year - 1983) / 4;
  return static_cast<uint32_t>(
      static_cast<int64_t>(base + 0.242194 * (year - 1980) - leap));
}

uint32_t AutumnalEquinoxDay(int64_t year) {
  const double base = year >= 1980 ? 23.2488 : 23.2588;
  const int64_t leap = year >= 1980 ? (year - 1980) / 4 : (year - 1983) / 4;
  return static_cast<uint32_t>(
      static_cast<int64_t>(base + 0.242194 * (year - 1980) - leap));
}

// National holidays of a real date (month 1-12, day within the month).
//
// From 2022 on, the general rule of each month applies as it stands: the
// one-off moves of 2019-2021 are the last special cases, and the Monday
// holidays of January, July, September and October, 11 August and 23
// February simply continue.
bool HolidayOn(const CDate& date) {
  const uint32_t y = date.year, d = date.day;
  const int w = WeekdayOfSerial(SerialOf(date));
  const uint32_t n = (d - 1) / 7 + 1;  // ordinal of the weekday in the month
  const bool monday = w == 1;
  switch (date.month) {
    case 1:
      if (d == 1) return true;
      return y < 2000 ? d == 15 : (monday && n == 2);
    case 2:
      return d == 11 || (y >= 2020 && d == 23) || (y == 1989 && d == 24);
    case 3:
      return d == VernalEquinoxDay(y);
    case 4:
      return d == 29 || (y == 1959 && d == 10);
    case 5:
      return d == 3 || d == 5 || (y >= 1986 && d == 4) || (y == 2019 && d == 1);
    case 6:
      return y == 1993 && d == 9;
    case 7:
      if (y == 2020) return d == 23 || d == 24;
      if (y == 2021) return d == 22 || d == 23;
      if (y >= 2003) return monday && n == 3;
      return y >= 1996 && d == 20;
    case 8:
      if (y == 2020) return d == 10;
      if (y == 2021) return d == 8;
      return y >= 2016 && d == 11;
    case 9: {
      const uint32_t equinox = AutumnalEquinoxDay(y);
      if (d == equinox) return true;
      if (y <= 2002) return d == 15;
      if (monday && n == 3) return true;
      // A Tuesday caught between the third Monday and the equinox.
      return w == 2 && d >= 16 && d <= 22 && d + 1 == equinox;
    }
    case 10:
      if (y == 2019) return d == 22 || (monday && n == 2);
      if (y == 2020 || y == 2021) return false;
      return y < 2000 ? d == 10 : (monday && n == 2);
    case 11:
      return d == 3 || d == 23 || (y == 1990 && d == 12);
    case 12:
      return y >= 1989 && y <= 2018 && d == 23;
  }
  return false;
}

// True for a Saturday of a real date on which the market was closed.
bool SaturdayClosedOn(const CDate& date) {
  if (WeekdayOfSerial(SerialOf(date)) != 6) return false;
  const uint32_t y = date.year, m = date.month;
  const uint32_t n = (date.day - 1) / 7 + 1;
  if (y >= 1990) return true;
  if (y == 1989) return m >= 2 || n != 4;
  if (y >= 1987) return n == 2 || n == 3;
  if (y == 1986) return n == 2 || (m >= 8 && n == 3);
  if (y >= 1984) return n == 2;
  if (y == 1983) return m >= 8 ? n == 2 : n == 3;
  return n == 3;
}

bool HolidayAt(int64_t serial) { return HolidayOn(DateFromSerial(serial)); }

bool BusinessDayAt(int64_t serial) {
  if (serial < kFirstSerial) return false;
  const CDate date = DateFromSerial(serial);
  const int w = WeekdayOfSerial(serial);
  const uint32_t y = date.year, m = date.month, d = date.day;
  if (w == 0) return false;
  if (m == 1 && d <= 3) return false;
  if (m == 12 && (y >= 1989 ? d == 31 : d >= 29)) return false;
  if (w == 6 && SaturdayClosedOn(date)) return false;
  if (HolidayOn(date)) return false;
  const bool prev_holiday = HolidayAt(serial - 1);
  // A Monday after a holiday on Sunday takes its place.
  if (y >= 1973 && w == 1 && prev_holiday) return false;
  // From 2007 the substitute moves on to the first day that is no holiday.
  if (y >= 2007 && prev_holiday && HolidayAt(serial - 2)) {
    if (w == 2) return false;
    if (w == 3 && HolidayAt(serial - 3)) return false;
  }
  if (prev_holiday && HolidayAt(serial + 1)) return false;
  return true;
}

// Steps from the date one day at a time in direction `step` (+1 or -1),
// at least once, until `stop` holds for the serial reached, and moves the
// date there. The date stays as it is when it has year 0 or the walk would
// pass 0001-01-01.
template <typename Stop>
bool Walk(CDate& date, int step, Stop stop) {
  if (date.year == 0) return false;
  int64_t serial = SerialOf(date);
  do {
    serial += step;
    if (serial < kFirstSerial) return false;
  } while (!stop(serial));
  date = DateFromSerial(serial);
  return true;
}

// Moves the date to `serial` unless that lies before 0001-01-01.
bool MoveTo(CDate& date, int64_t serial) {
  if (serial < kFirstSerial) return false;
  date = DateFromSerial(serial);
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal integer of a piece, after blanks and an optional sign;
// 0 when there are no digits. Saturates far beyond any useful year.
int64_t LeadingInteger(const std::string& piece) {
  std::size_t i = 0;
  while (i < piece.size() && (piece[i] == ' ' || piece[i] == '\t')) ++i;
  bool negative = false;
  if (i < piece.size() && (piece[i] == '-' || piece[i] == '+')) {
    negative = piece[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < piece.size() && IsDigit(piece[i]); ++i) {
    if (value < 1000000000000) value = value * 10 + (piece[i] - '0');
  }
  return negative ? -value : value;
}

// Length of the leading run of bytes from `set` (never matching NUL).
std::size_t LeadingRun(const std::string& s, const char* set) {
  std::size_t n = s.find_first_not_of(set);
  return n == std::string::npos ? s.size() : n;
}

bool IsMarkAt(const std::string& s, std::size_t i) {
  if (i + 1 >= s.size()) return false;
  for (const char* mark : {kYearMark, kMonthMark, kDayMark}) {
    if (s[i] == mark[0] && s[i + 1] == mark[1]) return true;
  }
  return false;
}

// Length of the leading run of digits and year, month and day marks.
std::size_t KanjiRun(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (IsDigit(s[i])) {
      ++i;
    } else if (IsMarkAt(s, i)) {
      i += 2;
    } else {
      break;
    }
  }
  return i;
}

// Splits CP932 text at the year, month and day marks, a character at a
// time, so that a mark's bytes inside another character never split.
// Empty pieces vanish.
std::vector<std::string> SplitAtMarks(const std::string& s) {
  std::vector<std::string> pieces;
  std::string piece;
  std::size_t i = 0;
  while (i < s.size()) {
    const bool lead = IsCp932LeadByte(static_cast<unsigned char>(s[i]));
    if (lead && IsMarkAt(s, i)) {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
      i += 2;
    } else {
      const std::size_t width = (lead && i + 1 < s.size()) ? 2 : 1;
      piece.append(s, i, width);
      i += width;
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

// 1-12 for a three-letter English month name in any case, else 0.
int64_t MonthFromName(const std::string& name) {
  if (name.size() != 3) return 0;
  for (int i = 0; i < 12; ++i) {
    bool same = true;
    for (int k = 0; k < 3; ++k) {
      char c = name[k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      char e = kMonthNames[i][k];
      if (e >= 'A' && e <= 'Z') e = static_cast<char>(e - 'A' + 'a');
      if (c != e) same = false;
    }
    if (same) return i + 1;
  }
  return 0;
}

}  // namespace

bool CDate::FromNumber(uint32_t number) {
  if (number == 0) {
    *this = CDate();
    return false;
  }
  const uint32_t m = number % 10000 / 100, d = number % 100;
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  *this = CDate(number / 10000, m, d);
  return true;
}

bool CDate::Parse(const std::string& text) {
  return ParseBytes(text.data(), text.size());
}

bool CDate::Parse(const char* text) {
  if (text == nullptr) return false;
  return ParseBytes(text, strnlen(text, kParseBlanks + kParseWindow));
}

bool CDate::ParseBytes(const char* text, std::size_t length) {
  std::size_t start = 0;
  while (start < length && start < kParseBlanks && text[start] == ' ') ++start;
  const std::string s(text + start, std::min(length - start, kParseWindow));

  int64_t y, m, d;
  const std::size_t digits = LeadingRun(s, "0123456789");
  if (digits == 6 || digits == 8) {
    const int64_t n = LeadingInteger(s);
    y = n / 10000;
    m = n % 10000 / 100;
    d = n % 100;
  } else if (LeadingRun(s, "0123456789/.-") >= 5) {
    const std::vector<std::string> pieces = StringSplit(s, "/.-");
    if (pieces.size() < 3) return false;
    y = LeadingInteger(pieces[0]);
    m = LeadingInteger(pieces[1]);
    d = LeadingInteger(pieces[2]);
  } else if (KanjiRun(s) >= 6) {
    const std::vector<std::string> pieces = SplitAtMarks(s);
    if (pieces.size() < 3) return false;
    y = LeadingInteger(pieces[0]);
    m = LeadingInteger(pieces[1]);
    d = LeadingInteger(pieces[2]);
  } else if (LeadingRun(s, "JanFebMarAprMayJunJulAugSepOctNovDec0123456789 ,") >=
             10) {
    const std::vector<std::string> pieces = StringSplit(s, " ,");
    if (pieces.size() < 3) return false;
    m = MonthFromName(pieces[0]);
    if (m == 0) return false;
    d = LeadingInteger(pieces[1]);
    y = LeadingInteger(pieces[2]);
  } else {
    return false;
  }

  if (m < 1 || m > 12 || d < 1 || d > 31 || y < 0) return false;
  if (y < 100) y += y < 71 ? 2000 : 1900;
  if (y > kMaxYear) return false;
  *this = CDate(static_cast<uint32_t>(y), static_cast<uint32_t>(m),
                static_cast<uint32_t>(d));
  return true;
}

CDate CDate::Today() { return FromTime(std::time(nullptr)); }

CDate CDate::FromTime(std::time_t seconds) {
  std::tm local;
  if (localtime_r(&seconds, &local) == nullptr) return CDate();
  const int64_t y = static_cast<int64_t>(local.tm_year) + 1900;
  if (y < 0 || y > std::numeric_limits<uint32_t>::max()) return CDate();
  return CDate(static_cast<uint32_t>(y), static_cast<uint32_t>(local.tm_mon + 1),
               static_cast<uint32_t>(local.tm_mday));
}

std::string CDate::Format(int style) const { return Format(style, Today()); }

std::string CDate::Format(int style, const CDate& today) const {
  const bool valid = year != 0 && month != 0 && day != 0;
  const uint32_t yy = year % 100;
  switch (style) {
    case 0:
      return valid ? StringFormat("%u/%u/%u", year, month, day) : "----/--/--";
    case 1:
      return valid ? StringFormat("%02u/%u", yy, month) : "--/--";
    case 3:
      if (valid) {
        if (*this == today) return "今日";
        CDate yesterday = today;
        yesterday.PrevDay();
        if (*this == yesterday) return "昨日";
      }
      [[fallthrough]];
    case 2: {
      if (!valid) return "----/--/--(--)";
      const int w = Weekday();
      return StringFormat("%u/%u/%u(%s)", year, month, day,
                          w < 0 ? "--" : kWeekdayNames[w]);
    }
    case 4:
      return valid ? StringFormat("%02u/%u/%u", yy, month, day) : "--/--/--";
    case 5:
      return StringFormat("%u", ToNumber());
    case 6:
      return valid ? StringFormat("%u", year) : "----";
    case 7:
      if (!valid) return "--/--";
      return month == 1 ? StringFormat("%u", year)
                        : StringFormat("%02u/%u", yy, month);
    case 8:
      return valid ? StringFormat("%u-%02u-%02u", year, month, day)
                   : "----/--/--";
  }
  return std::string();
}

void CDate::NextDay() {
  if (year != 0) MoveTo(*this, SerialOf(*this) + 1);
}

void CDate::PrevDay() {
  if (year != 0) MoveTo(*this, SerialOf(*this) - 1);
}

CDate CDate::AddDays(int32_t n) const {
  CDate result = *this;
  if (n >= 1 && year != 0) MoveTo(result, SerialOf(*this) + n);
  return result;
}

CDate CDate::SubDays(int32_t n) const {
  CDate result = *this;
  if (n >= 1 && year != 0) MoveTo(result, SerialOf(*this) - n);
  return result;
}

int32_t CDate::DaysBetween(const CDate& other) const {
  if (year == 0 || other.year == 0) return 0;
  return ClampToInt32(SerialOf(*this) - SerialOf(other));
}

int32_t CDate::DayOfYear() const {
  if (month < 1 || month > 12) return -1;
  int64_t days = static_cast<int64_t>(day) - 1;
  for (uint32_t m = 1; m < month; ++m) days += DaysInMonth(m, year);
  return ClampToInt32(days);
}

int CDate::Weekday() const {
  if (month < 1 || month > 12 || day < 1 || day > 31) return -1;
  int64_t m = month, y = year;
  if (m <= 2) {
    m += 12;
    y -= 1;
  }
  const int64_t w =
      y + y / 4 - y / 100 + y / 400 + (13 * m + 8) / 5 + static_cast<int64_t>(day);
  return static_cast<int>(FloorMod(w, 7));
}

uint32_t CDate::DaysInMonth(uint32_t month, uint32_t year) {
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kMonthDays[month - 1];
}

bool CDate::IsLeapYear(uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

void CDate::AddMonths(int32_t n) {
  if (year == 0) return;
  const int64_t total = static_cast<int64_t>(year) * 12 +
                        (static_cast<int64_t>(month) - 1) + n;
  if (total < 12) return;
  year = static_cast<uint32_t>(total / 12);
  month = static_cast<uint32_t>(total % 12 + 1);
}

int32_t CDate::MonthsBetween(const CDate& other) const {
  return ClampToInt32(
      (static_cast<int64_t>(year) - other.year) * 12 +
      (static_cast<int64_t>(month) - static_cast<int64_t>(other.month)));
}

CDate CDate::Normalized() const {
  if (year == 0) return *this;
  if (month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, year))
    return *this;
  return DateFromSerial(SerialOf(*this));
}

bool CDate::IsHoliday() const {
  const CDate real = Normalized();
  return real.year != 0 && HolidayOn(real);
}

bool CDate::IsSaturdayClosed() const {
  const CDate real = Normalized();
  return real.year != 0 && SaturdayClosedOn(real);
}

bool CDate::IsBusinessDay() const {
  return year != 0 && BusinessDayAt(SerialOf(*this));
}

bool CDate::IsWeekend() const {
  if (year == 0) return false;
  const int w = WeekdayOfSerial(SerialOf(*this));
  return w == 0 || w == 6;
}

bool CDate::IsBusinessFriday() const {
  return year != 0 && WeekdayOfSerial(SerialOf(*this)) == 5 &&
         BusinessDayAt(SerialOf(*this));
}

bool CDate::IsFirstBusinessDayOfMonth() const {
  const CDate real = Normalized();
  if (real.year == 0 || real.day >= 8) return false;
  const int64_t serial = SerialOf(real);
  if (!BusinessDayAt(serial)) return false;
  for (uint32_t back = 1; back < real.day; ++back) {
    if (BusinessDayAt(serial - back)) return false;
  }
  return true;
}

uint32_t CDate::LastBusinessDayOfMonth() const {
  const CDate real = Normalized();
  if (real.year == 0) return 0;
  const int64_t first = SerialFromCivil(real.year, real.month, 1);
  for (int64_t s = first + DaysInMonth(real.month, real.year) - 1; s >= first;
       --s) {
    if (BusinessDayAt(s)) return DateFromSerial(s).day;
  }
  return 0;
}

uint32_t CDate::FuturesLastTradingDay() const {
  const CDate real = Normalized();
  if (real.year == 0 || real.month % 3 != 0) return 0;
  const int64_t first = SerialFromCivil(real.year, real.month, 1);
  const int64_t second_friday =
      first + (5 - WeekdayOfSerial(first) + 7) % 7 + 7;
  CDate date = DateFromSerial(second_friday);
  if (!Walk(date, -1, BusinessDayAt)) return 0;
  return date.day;
}

bool CDate::IsFuturesLastTradingDay() const {
  const CDate real = Normalized();
  const uint32_t last = real.FuturesLastTradingDay();
  return last != 0 && real.day == last;
}

void CDate::NextBusinessDay() { Walk(*this, 1, BusinessDayAt); }

void CDate::PrevBusinessDay() { Walk(*this, -1, BusinessDayAt); }

void CDate::PrevWeekday() {
  Walk(*this, -1, [](int64_t s) {
    const int w = WeekdayOfSerial(s);
    return w >= 1 && w <= 5;
  });
}

bool CDate::PrevDayOfWeek(int w) {
  if (w < 0 || w > 6) return false;
  return Walk(*this, -1, [w](int64_t s) { return WeekdayOfSerial(s) == w; });
}

bool CDate::NextDayOfWeek(int w) {
  if (w < 0 || w > 6) return false;
  return Walk(*this, 1, [w](int64_t s) { return WeekdayOfSerial(s) == w; });
}

void CDate::NextBusinessFriday() {
  Walk(*this, 1, [](int64_t s) {
    return WeekdayOfSerial(s) == 5 && BusinessDayAt(s);
  });
}

void CDate::FirstBusinessDayOfNextMonth() {
  const CDate real = Normalized();
  if (real.year == 0) return;
  const int64_t first = SerialFromCivil(
      real.year + (real.month == 12), real.month % 12 + 1, 1);
  CDate date = DateFromSerial(first);
  if (BusinessDayAt(first) || Walk(date, 1, BusinessDayAt)) *this = date;
}

void CDate::FirstBusinessDayOfPrevMonth() {
  const CDate real = Normalized();
  if (real.year == 0 || (real.year == 1 && real.month == 1)) return;
  const int64_t first = SerialFromCivil(
      real.year - (real.month == 1), (real.month + 10) % 12 + 1, 1);
  CDate date = DateFromSerial(first);
  if (BusinessDayAt(first) || Walk(date, 1, BusinessDayAt)) *this = date;
}

void CDate::FirstBusinessDayOfNextWeek() {
  if (year == 0) return;
  CDate date = *this;
  if (WeekdayOfSerial(SerialOf(date)) != 0) date.NextDayOfWeek(0);
  if (Walk(date, 1, BusinessDayAt)) *this = date;
}

void CDate::FirstBusinessDayOfPrevWeek() {
  if (year == 0) return;
  CDate date;
  if (!MoveTo(date, SerialOf(*this) - 14)) return;
  date.FirstBusinessDayOfNextWeek();
  *this = date;
}

void CDate::AddBusinessDays(int32_t n) {
  CDate date = *this;
  const int step = n > 0 ? 1 : -1;
  for (int64_t left = n > 0 ? n : -static_cast<int64_t>(n); left > 0; --left) {
    if (!Walk(date, step, BusinessDayAt)) return;
  }
  *this = date;
}

int32_t CDate::BusinessDaysBetween(const CDate& other) const {
  if (year == 0 || other.year == 0) return 0;
  const int64_t to = SerialOf(*this), from = SerialOf(other);
  int64_t count = 0;
  if (to > from) {
    for (int64_t s = from + 1; s <= to; ++s) count += BusinessDayAt(s);
  } else {
    for (int64_t s = from - 1; s >= to; --s) count -= BusinessDayAt(s);
  }
  return ClampToInt32(count);
}
