#ifndef TICKORA_APP_WORKER_PAGE_H_
#define TICKORA_APP_WORKER_PAGE_H_

#include <QString>
#include <QTimer>
#include <QWizardPage>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "setup/worker_progress.h"

class QCheckBox;
class QLabel;
class QProgressBar;

// The elapsed and remaining times as the page shows them: hours and minutes
// ("01時間02分") from one hour on, else minutes and seconds ("00分59秒").
QString FormatDuration(std::uint32_t seconds);

// CWorkerPage runs the setup on one background thread and shows how far it
// has come: four stage boxes ("1009", "1003", "1011", "1004"), the progress
// bar "1010", the status line "1013" and the elapsed and remaining times
// ("1012", "1014"), refreshed every 500 ms from the progress record.
//
// The page owns the progress record and the thread; it reaches the work only
// through CWorker, which it does not own (the wizard sets it, and it must
// outlive the page's runs). A run that fails or is cancelled leaves a resume
// pending: the next Next (or the next entry to the page) continues it.
//
// Buttons: while a run lasts Next is disabled (the page is not complete), and
// Back is disabled by the wizard, whose summary page is a commit page. When
// the run has ended (finished, failed or cancelled) only Next is enabled.
//
// Everything here runs on the user interface thread; the worker thread only
// calls CWorker::Run with the record. Destroying the page while a run lasts
// cancels the run and waits for the thread.
class CWorkerPage : public QWizardPage {
  Q_OBJECT

 public:
  // The work that the page runs. Run is called on the worker thread with the
  // page's progress record and reports only through it.
  class CWorker {
   public:
    virtual ~CWorker() = default;
    virtual void Run(WorkerProgress& progress) = 0;
  };

  // Seconds since the epoch; replaceable so that tests control time.
  using Clock = std::function<std::int64_t()>;

  enum class State { kIdle, kRunning, kFinished, kFailed, kCancelled };

  explicit CWorkerPage(QWidget* parent = nullptr);
  ~CWorkerPage() override;
  CWorkerPage(const CWorkerPage&) = delete;
  CWorkerPage& operator=(const CWorkerPage&) = delete;

  void SetWorker(CWorker* worker) { worker_ = worker; }
  // Stage boxes (2) and (4) are enabled only when their data was chosen.
  void SetStagesChosen(bool splits, bool margin);
  void SetClock(Clock clock) { clock_ = std::move(clock); }
  // Before the first run: makes entering the page resume at `stage` and
  // `index` (a run kept by an earlier process) instead of starting afresh;
  // with `pending` false, entering starts afresh again.
  void SetPendingResume(bool pending, std::int32_t stage, std::int32_t index);

  // Entering the page starts a fresh run, or resumes a pending one.
  void initializePage() override;
  bool isComplete() const override;
  // Next: with a resume pending, resumes and stays on the page.
  bool validatePage() override;

  // Cancel: with a run going on, cancels it, waits for the thread and
  // returns true (the wizard stays open). A run that ended on its own
  // before the cancel reached it (finished or failed) shows that outcome
  // instead. Without a run returns false: the wizard is to close.
  bool Cancel();

  // Cancels a running run and waits for its thread, showing nothing and
  // changing no state: for an owner that is going away.
  void StopQuietly();

  // One refresh of the display; the timer calls it every 500 ms.
  void Refresh();

  State state() const { return state_; }
  bool IsRunning() const { return thread_.joinable(); }
  bool ResumePending() const { return resumePending_; }
  bool TimerActive() const { return timer_.isActive(); }
  WorkerProgress& Progress() { return progress_; }

 private:
  // Starts a run on a new thread; nothing when one exists.
  void Start(bool resume);
  void EndedRun();
  // Shows how the ended run went (its error, or that it finished) and
  // sets the state and the pending resume from it.
  void ShowOutcome();
  void SetBox(int index, bool running);

  std::array<QCheckBox*, 4> boxes_{};
  QProgressBar* bar_;
  QLabel* status_;
  QLabel* elapsed_;
  QLabel* remaining_;

  WorkerProgress progress_;
  QTimer timer_;
  std::thread thread_;
  // Set by the worker thread as its last act: the thread has ended and
  // joining it will not block.
  std::atomic<bool> finished_{false};
  std::int64_t startTime_ = 0;
  CWorker* worker_ = nullptr;
  Clock clock_;
  State state_ = State::kIdle;
  bool resumePending_ = false;
  bool splitsChosen_ = false;
  bool marginChosen_ = false;
};

#endif  // TICKORA_APP_WORKER_PAGE_H_
