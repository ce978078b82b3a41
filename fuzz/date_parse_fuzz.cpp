// Feeds arbitrary bytes to CDate::Parse, as a string and as a C string.
// Its first four bytes also go to CDate::FromNumber as a date number.
// Besides the sanitizers' checks it stops on any broken promise: a date
// taken with a month outside 1-12, a day outside 1-31 or a date number
// beyond 32 bits; a refused text that changed the date; a date number
// taken or refused other than by its month and day; the two forms
// disagreeing on the same bytes (the C string form ending at the first zero
// byte); a date taken that does not come back from its date number; a
// four-digit-year date that does not read back from its own text forms;
// stepping day by day from a real date disagreeing with the closed forms of
// the calendar, or a move by business days (to the nearest, or by a count)
// with the count between; an impossible date taken (31 February) answering
// other than the real day it stands for. The calendar questions then run
// on every date taken, for the sanitizers.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "support/date.h"

using fuzz::Check;

namespace {

bool Same(const CDate& a, const CDate& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const CDate sentinel(7, 7, 7);
  // The first four bytes as a date number: taken exactly when its month and
  // day can be a date's, and then it comes back; 0 empties the date, any
  // other refusal leaves it as it was.
  if (size >= 4) {
    uint32_t number;
    std::memcpy(&number, data, 4);
    const uint32_t m = number / 100 % 100, d = number % 100;
    const bool can = m >= 1 && m <= 12 && d >= 1 && d <= 31;
    CDate fromNumber = sentinel;
    Check(fromNumber.FromNumber(number) == can);
    Check(can ? fromNumber.ToNumber() == number
              : Same(fromNumber, number == 0 ? CDate() : sentinel));
  }
  CDate date = sentinel;
  const bool taken = date.Parse(text);
  if (!taken) {
    Check(Same(date, sentinel));
  } else {
    Check(date.month >= 1 && date.month <= 12 && date.day >= 1 &&
          date.day <= 31);
    Check(uint64_t{date.year} * 10000 + date.month * 100 + date.day <=
          UINT32_MAX);
  }

  // The C string form reads up to the first zero byte; the buffer ends
  // right after it, so a read beyond is caught.
  std::vector<char> bytes(text.begin(), text.end());
  bytes.push_back('\0');
  CDate viaPointer = sentinel;
  const bool pointerTaken = viaPointer.Parse(bytes.data());
  CDate prefix = sentinel;
  const bool prefixTaken = prefix.Parse(std::string(bytes.data()));
  Check(pointerTaken == prefixTaken && Same(viaPointer, prefix));
  if (text.find('\0') == std::string::npos) {
    Check(pointerTaken == taken && Same(viaPointer, date));
  }
  if (!taken) return 0;
  // Every date taken comes back whole from its date number.
  CDate fromNumber;
  Check(fromNumber.FromNumber(date.ToNumber()) && Same(fromNumber, date));

  if (date.year >= 1000 && date.year <= 9999) {
    for (int style : {0, 2, 5, 8}) {
      CDate again;
      Check(again.Parse(date.Format(style)) && Same(again, date));
    }
  }
  for (int style = 0; style <= 8; ++style) date.Format(style, date);
  // Asked for the sanitizers' sake: any date must give an answer.
  (void)date.Weekday();
  (void)date.DayOfYear();
  (void)date.IsBusinessDay();
  (void)date.IsHoliday();
  (void)date.IsFuturesLastTradingDay();
  const CDate real = date.Normalized();
  Check(real.month >= 1 && real.month <= 12 && real.day >= 1 &&
        real.day <= CDate::DaysInMonth(real.month, real.year));
  // An impossible date counts as the real day it stands for, yet a move by
  // no days keeps it as it is; the empty date is no distance from anything.
  Check(date.DaysBetween(real) == 0 && date.DaysBetween(CDate()) == 0 &&
        date.Weekday() == real.Weekday() && date.DayOfYear() == real.DayOfYear());
  Check(Same(date.AddDays(1), real.AddDays(1)) && Same(date.AddDays(0), date) &&
        Same(date.SubDays(-4), date));
  // From a real date, the next 1500 days (over four years) stepped one at
  // a time agree with the closed forms: the next day by the month's
  // length and back, the weekday, the distances both ways, the day of the
  // year and the moves by a number of days.
  if (date.year >= 1000 && date.year <= 9000 && Same(real, date)) {
    CDate cur = date;
    for (int32_t i = 1; i <= 1500; ++i) {
      CDate next = cur;
      next.NextDay();
      CDate back = next;
      back.PrevDay();
      const bool last = cur.day == CDate::DaysInMonth(cur.month, cur.year);
      const CDate closed = !last            ? CDate(cur.year, cur.month, cur.day + 1)
                           : cur.month < 12 ? CDate(cur.year, cur.month + 1, 1)
                                            : CDate(cur.year + 1, 1, 1);
      Check(Same(next, closed) && Same(back, cur));
      Check(next.Weekday() == (date.Weekday() + i) % 7);
      Check(next.DaysBetween(date) == i && date.DaysBetween(next) == -i);
      Check(next.DayOfYear() == next.DaysBetween(CDate(next.year, 1, 1)));
      Check(Same(date.AddDays(i), next) && Same(next.SubDays(i), date));
      cur = next;
    }
    // From a business day, a move by n business days lands n of them away.
    if (date.IsBusinessDay()) {
      const int32_t n = static_cast<int32_t>(size * 37 % 601) - 300;
      CDate moved = date;
      moved.AddBusinessDays(n);
      Check(moved.IsBusinessDay() && moved.BusinessDaysBetween(date) == n &&
            date.BusinessDaysBetween(moved) == -n);
    }
  }
  // The nearest business days on either side, with none between.
  CDate next = date, prev = date;
  next.NextBusinessDay();
  prev.PrevBusinessDay();
  if (date.year >= 1000 && date.year <= 9000) {
    Check(next.IsBusinessDay() && next.BusinessDaysBetween(date) == 1);
    Check(prev.IsBusinessDay() &&
          date.BusinessDaysBetween(prev) == (date.IsBusinessDay() ? 1 : 0));
  }
  CDate moved = date;
  moved.AddMonths(data[0] % 25 - 12);
  return 0;
}
