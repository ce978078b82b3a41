#ifndef TICKORA_SETUP_WORKER_PROGRESS_H_
#define TICKORA_SETUP_WORKER_PROGRESS_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// The stages of a setup run in their order, by the numbers that the
// progress record and the position file keep.
enum SetupStage : std::int32_t {
  kStageNone = 0,  // no stage begun yet
  kStageIssues = 1,
  kStageSplits = 2,
  kStagePrices = 3,
  kStageMargin = 4,
  kStageFinished = 5,  // every stage done
};

// WorkerProgress is the one record that the worker thread of a setup run and
// the progress display share. The worker writes the numbers and the two
// texts; the display writes `cancel` at any time and everything else only
// while no worker runs. The numbers are atomics, so a reader sees each one
// whole (possibly one tick old). The two texts sit behind a mutex and are
// handed out as copies, so a reader never sees one half rewritten.
//
// `stage` holds a SetupStage. `resumeIndex` is the index, in the running
// stage's issue list, of the issue being worked on.
class WorkerProgress {
 public:
  WorkerProgress() = default;
  WorkerProgress(const WorkerProgress&) = delete;
  WorkerProgress& operator=(const WorkerProgress&) = delete;

  std::atomic<std::uint8_t> cancel{0};
  std::atomic<std::int32_t> total{0};
  std::atomic<std::int32_t> done{0};
  std::atomic<std::int32_t> stage{0};
  std::atomic<std::int32_t> resumeIndex{0};
  std::atomic<std::uint8_t> resume{0};

  // One-line description of the last finished item.
  std::string Status() const;
  void SetStatus(const std::string& text);

  // The error message of a failed run; empty while running and after
  // success or cancel.
  std::string Error() const;
  void SetError(const std::string& text);

  // Prepares the record for a fresh run: error emptied, total 100, done 0,
  // stage 0, resumeIndex 0, cancel and resume 0. The status is kept.
  void ResetForFreshRun();

  // Prepares the record for a resumed run: error emptied, total 100, done
  // 0, cancel 0, resume 1; stage and resumeIndex stay where the last run
  // stopped.
  void ResetForResume();

 private:
  mutable std::mutex mutex_;
  std::string status_;
  std::string error_;
};

#endif  // TICKORA_SETUP_WORKER_PROGRESS_H_
