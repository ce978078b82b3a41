#ifndef TICKORA_SETUP_SPLIT_STAGE_H_
#define TICKORA_SETUP_SPLIT_STAGE_H_

#include <string>
#include <vector>

#include "setup/run_context.h"

// The split stage: stores the splits of every issue of `issues` in the
// 分割 table, from the resumed index on. Progress counts issues. A split on
// a day that does not exist, or whose ratio is not a positive number, is
// refused and counted. True when every issue was done; false when the stage
// is to stop: a cancel (no error text), or a failure, whose error text is
// then set.
[[nodiscard]] bool RunSplitStage(CRunContext& run, const std::vector<std::string>& issues);

#endif  // TICKORA_SETUP_SPLIT_STAGE_H_
