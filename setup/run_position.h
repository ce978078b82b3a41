#ifndef TICKORA_SETUP_RUN_POSITION_H_
#define TICKORA_SETUP_RUN_POSITION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "setup/resume_file.h"
#include "setup/worker_progress.h"

// CRunPosition is where a setup run stands, kept in the progress record and,
// when the run keeps its position, in the database folder's position file
// (resume_file.h) so that another process can continue it.
//
// It also holds the check a continued run makes on its list: ContinueFrom
// keeps the count and hash of the list the interrupted stage worked on, and
// the stage that continues takes that expectation once (TakeExpected).
//
// The run owns one CRunPosition and lends it to its stages; one thread at a
// time.
class CRunPosition {
 public:
  CRunPosition() = default;
  CRunPosition(const CRunPosition&) = delete;
  CRunPosition& operator=(const CRunPosition&) = delete;

  // Whether Save writes the position file of `folder` too.
  void Keep(bool keep) { keep_ = keep; }
  [[nodiscard]] bool Keeps() const { return keep_; }

  // Starts a run: the folder and what every position of the run holds
  // besides its stage, index and list. Forgets what was last written.
  void Begin(const std::string& folder, const CResumePosition& run);

  // The list the running stage works on, whose count and hash go into the
  // positions saved from now on.
  void SetList(const std::vector<std::string>& list);

  // Sets the record's stage and resumeIndex as a stage starts on an item,
  // and writes the position file when it is kept and the place changed.
  void Save(WorkerProgress& progress, std::int32_t stage, std::int32_t index);

  // The list count and hash a continued run expects (see ContinueFrom in
  // setup_run.h). TakeExpected gives false when there is none, and clears
  // the expectation: it is checked once.
  void Expect(std::int32_t count, std::uint32_t hash);
  [[nodiscard]] bool TakeExpected(std::int32_t& count, std::uint32_t& hash);

  // The first item index of a stage: resumeIndex when the record's resume
  // flag is set (the flag is then cleared, which opens every later stage),
  // else 0.
  [[nodiscard]] static std::int32_t BeginStage(WorkerProgress& progress);
  // The same for a stage over `count` items, into `first`. False, with the
  // error set, when a resumed index lies outside the list (only index 0 of
  // an empty one is inside): such a position was not written by a run.
  [[nodiscard]] static bool BeginStage(WorkerProgress& progress, std::int32_t count,
                                       std::int32_t& first);

 private:
  bool keep_ = false;
  std::string folder_;
  CResumePosition run_;
  // The place last written, so that only changes are written.
  std::int32_t writtenStage_ = -1;
  std::int32_t writtenIndex_ = -1;
  bool expect_ = false;
  std::int32_t expectedCount_ = 0;
  std::uint32_t expectedHash_ = 0;
};

#endif  // TICKORA_SETUP_RUN_POSITION_H_
