#ifndef TICKORA_SERIES_MARGIN_RECORD_H_
#define TICKORA_SERIES_MARGIN_RECORD_H_

#include "support/date.h"

// One weekly margin entry of an issue: the date the balances refer to, the
// outstanding margin buying (買残) and the outstanding margin selling (売残).
// A new record has the empty date and both balances 0. Copied by value.
struct CMarginRecord {
  CDate date;
  double buy = 0.0;
  double sell = 0.0;

  // Every field equal; the balances compare as doubles.
  bool operator==(const CMarginRecord& other) const = default;
};

#endif  // TICKORA_SERIES_MARGIN_RECORD_H_
