#include "series/record_checks.h"

#include <cfloat>
#include <cmath>

#include "support/date.h"

bool IsCalendarDate(std::uint32_t number) {
  const std::uint32_t year = number / 10000u;
  const std::uint32_t month = number / 100u % 100u;
  const std::uint32_t day = number % 100u;
  return year >= 1900 && year <= 2999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= CDate::DaysInMonth(month, year);
}

bool IsStorableValue(double value) {
  return std::isfinite(value) && value >= 0.0 && value <= FLT_MAX;
}

bool IsStorableBar(const CDayRecord& bar) {
  return IsCalendarDate(bar.DateNumber()) && IsStorableValue(bar.open) &&
         IsStorableValue(bar.high) && IsStorableValue(bar.low) && IsStorableValue(bar.close) &&
         IsStorableValue(bar.volume);
}

bool IsStorableEntry(const CMarginRecord& entry) {
  return IsCalendarDate(entry.date.ToNumber()) && IsStorableValue(entry.buy) &&
         IsStorableValue(entry.sell);
}
