#ifndef TICKORA_DB_DIVIDE_RECORD_H_
#define TICKORA_DB_DIVIDE_RECORD_H_

#include "support/date.h"

// One stock split: the effective date (the first trading day on the new
// share count) and the ratio of new shares per old share (2.0 when one share
// becomes two). A new record has the empty date and ratio 1, no change.
// Copied by value.
struct CDivideRecord {
  CDate date;
  double ratio = 1.0;

  // Same date number and same ratio, compared as doubles.
  bool operator==(const CDivideRecord& other) const = default;
};

#endif  // TICKORA_DB_DIVIDE_RECORD_H_
