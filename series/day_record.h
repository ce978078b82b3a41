#ifndef TICKORA_SERIES_DAY_RECORD_H_
#define TICKORA_SERIES_DAY_RECORD_H_

#include <cstdint>

#include "support/date.h"

// CDayRecord is one bar of a price series: a date and the open, high, low,
// close and volume of that day (or week, or month), plus the raw close, the
// close before any split adjustment. Split adjustment scales the first five
// values and leaves the raw close alone. A bar read from a chart file gets
// raw close equal to close; bars appended from data-source records, read
// from an archive price file, or made up to fill a gap have raw close 0.
//
// A new record has the empty date and all six values 0. It is a plain value:
// copy it freely.
//
// Whole price tables of thousands of issues are kept in memory, so the date
// is held as its date number (year * 10000 + month * 100 + day, 4 bytes
// instead of a 12-byte CDate): the record is 56 bytes instead of 64. Any
// date whose month and day are below 100 survives SetDate/Date unchanged;
// SetDateNumber keeps any number, valid date or not, exactly as given.
class CDayRecord {
 public:
  double open = 0.0;
  double high = 0.0;
  double low = 0.0;
  double close = 0.0;
  double volume = 0.0;
  double rawClose = 0.0;

  CDayRecord() = default;

  CDate Date() const {
    return CDate(date_ / 10000u, date_ / 100u % 100u, date_ % 100u);
  }
  [[nodiscard]] uint32_t DateNumber() const { return date_; }
  void SetDate(const CDate& date) { date_ = date.ToNumber(); }
  void SetDateNumber(uint32_t number) { date_ = number; }

  // Every field equal; the values compare as doubles.
  bool operator==(const CDayRecord& other) const = default;

 private:
  uint32_t date_ = 0;
};

#endif  // TICKORA_SERIES_DAY_RECORD_H_
