#ifndef TICKORA_SERIES_RECORD_CHECKS_H_
#define TICKORA_SERIES_RECORD_CHECKS_H_

#include <cstdint>

#include "series/day_record.h"
#include "series/margin_record.h"

// What a chart, margin or quick file can hold, checked before a record
// from a server is merged into a series: a day that exists in the calendar
// and values that are finite, not negative and within float32 (the files
// narrow them). A record that fails is refused by the stage that received
// it; the files never hold a date out of order, NaN or infinity.

// True for a date number yyyymmdd of a day that exists (years 1900-2999).
[[nodiscard]] bool IsCalendarDate(std::uint32_t number);

// True for a value a file can hold: finite, at least 0, at most FLT_MAX.
[[nodiscard]] bool IsStorableValue(double value);

// The bar's date is a calendar day and its four prices and volume are
// storable.
[[nodiscard]] bool IsStorableBar(const CDayRecord& bar);

// The entry's date is a calendar day and its two balances are storable.
[[nodiscard]] bool IsStorableEntry(const CMarginRecord& entry);

#endif  // TICKORA_SERIES_RECORD_CHECKS_H_
