#ifndef TICKORA_TESTS_FUZZ_REPLAY_REPLAY_TARGETS_H_
#define TICKORA_TESTS_FUZZ_REPLAY_REPLAY_TARGETS_H_

#include <cstddef>
#include <cstdint>

// A fuzz target's entry point and the name of its seeds folder.
struct ReplayTarget {
  const char* name;
  int (*entry)(const uint8_t* data, size_t size);
};

extern const ReplayTarget kReplayTargets[];
extern const size_t kReplayTargetCount;

#endif  // TICKORA_TESTS_FUZZ_REPLAY_REPLAY_TARGETS_H_
