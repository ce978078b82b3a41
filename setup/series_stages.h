#ifndef TICKORA_SETUP_SERIES_STAGES_H_
#define TICKORA_SETUP_SERIES_STAGES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "setup/run_context.h"

// The price and margin stages: one file per issue of `issues` with data,
// from the first date to the run's today, then the quick file of the stage.
//
//   prices   one chart file per issue in the daily folder, then
//            "quick2.dat" from the last 320 bars of every issue;
//   margin   one margin file per issue in the margin folder, then
//            "quickmg2.dat" from the last 50 weeks of every issue.
//
// Progress counts issue-days (DaysInPeriod() units per issue). Each stage
// saves its position before it touches an issue and looks at cancel before
// each issue and each download request; a download that the cancel stopped
// ends the stage at the issue it was on, which a resume fetches anew.
//
// A resumed stage does not fetch the issues before its position again:
// their quick entries come from their files. It checks each file first,
// though: one that is gone (a deleted or replaced folder) or does not read
// is fetched again, so that the stage never ends with an issue missing.
//
// Each returns true when the stage is done; false when it is to stop: a
// cancel (no error text), or a failure, whose error text is then set.
[[nodiscard]] bool RunPriceStage(CRunContext& run, const std::vector<std::string>& issues);
[[nodiscard]] bool RunMarginStage(CRunContext& run, const std::vector<std::string>& issues);

// For a run resumed after the price stage: checks the chart file of every
// issue as a resumed price stage checks those before its position, fetches
// again those that are gone or do not read, and writes "quick2.dat" anew,
// so that a daily folder lost since the interruption does not end in a
// folder without charts. Leaves the record's stage, index and resume flag
// as they are.
[[nodiscard]] bool CheckPriceFiles(CRunContext& run, const std::vector<std::string>& issues);

// Bars of an issue that go into "quick2.dat", bars read back from a chart
// file to rebuild them on resume, and the same for margin entries.
constexpr std::int32_t kQuickPriceDepth = 320;
constexpr std::int32_t kQuickPriceReload = 330;
constexpr std::int32_t kQuickMarginDepth = 50;
constexpr std::int32_t kQuickMarginReload = 60;

// True when the code is all decimal digits and its value is below 1300 or
// above 9999: such issues (the built-in ones) stay out of "quick2.dat".
[[nodiscard]] bool IsOutsideQuickRange(const std::string& code);

#endif  // TICKORA_SETUP_SERIES_STAGES_H_
