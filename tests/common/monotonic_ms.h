#ifndef TICKORA_TESTS_COMMON_MONOTONIC_MS_H_
#define TICKORA_TESTS_COMMON_MONOTONIC_MS_H_

#include <time.h>

#include <cstdint>

// Milliseconds of the monotonic clock, for tests that check a wait ended
// well before a time limit. (<chrono> does not compile with the CP932
// execution character set of the core tests.)
inline int64_t MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

#endif  // TICKORA_TESTS_COMMON_MONOTONIC_MS_H_
