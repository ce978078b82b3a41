#include "setup/run_position.h"

#include "support/text.h"

void CRunPosition::Begin(const std::string& folder, const CResumePosition& run) {
  folder_ = folder;
  run_ = run;
  run_.issueCount = 0;
  run_.issueHash = 0;
  writtenStage_ = writtenIndex_ = -1;
}

void CRunPosition::SetList(const std::vector<std::string>& list) {
  run_.issueCount = static_cast<std::int32_t>(list.size());
  run_.issueHash = HashIssueList(list);
}

void CRunPosition::Save(WorkerProgress& progress, std::int32_t stage, std::int32_t index) {
  progress.stage = stage;
  progress.resumeIndex = index;
  if (!keep_ || (stage == writtenStage_ && index == writtenIndex_)) return;
  CResumePosition position = run_;
  position.stage = stage;
  position.resumeIndex = index;
  // A position that cannot be written leaves the last one written, which
  // lies behind the real one: a later resume then fetches some issues
  // again, which stores the same data. The run itself goes on.
  if (WriteResumeFile(ResumeFilePath(folder_), position)) {
    writtenStage_ = stage;
    writtenIndex_ = index;
  }
}

void CRunPosition::Expect(std::int32_t count, std::uint32_t hash) {
  expect_ = true;
  expectedCount_ = count;
  expectedHash_ = hash;
}

bool CRunPosition::TakeExpected(std::int32_t& count, std::uint32_t& hash) {
  if (!expect_) return false;
  expect_ = false;
  count = expectedCount_;
  hash = expectedHash_;
  return true;
}

std::int32_t CRunPosition::BeginStage(WorkerProgress& progress) {
  if (progress.resume == 1) {
    progress.resume = 0;
    return progress.resumeIndex;
  }
  return 0;
}

bool CRunPosition::BeginStage(WorkerProgress& progress, std::int32_t count,
                              std::int32_t& first) {
  const bool resumed = progress.resume == 1;
  first = BeginStage(progress);
  if (!resumed || first == 0 || first < count) return true;
  // Every position a run writes names an item of its stage's list, so one
  // at or past the end was not written by a run: taking it as "the stage
  // is done" would skip the stage's work without a word.
  progress.SetError(StringFormat(
      "再開する位置(%d件目)が銘柄リスト(%d件)の範囲外なので処理を中断します",
      first + 1, count));
  return false;
}
