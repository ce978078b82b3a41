#ifndef TICKORA_WEB_LOCAL_CLOCK_H_
#define TICKORA_WEB_LOCAL_CLOCK_H_

#include <functional>

#include "support/date.h"

// The local date and time of day that the readers and the archive client
// base their date rules on (price cut-offs, the date of a quote, the last
// day of a history). A reader asks its clock once per operation.
struct CLocalTime {
  CDate date;
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
};

// A source of the local time. The default reads the system clock; tests
// give a fixed or scripted time. Called on the worker thread only.
using CLocalClock = std::function<CLocalTime()>;

// The current local date and time from the system clock.
CLocalTime SystemLocalTime();

#endif  // TICKORA_WEB_LOCAL_CLOCK_H_
