#ifndef TICKORA_TESTS_APP_APP_TEST_SUPPORT_H_
#define TICKORA_TESTS_APP_APP_TEST_SUPPORT_H_

#include <QAbstractButton>
#include <QApplication>
#include <QString>
#include <QThread>
#include <QWizard>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "app/message_box.h"
#include "app/worker_page.h"

// Answers every message box of the wizard at once and keeps what it said.
// `on_box`, when set, runs while the box "is shown", so a test can look at
// the page at that moment.
class MessageRecorder {
 public:
  struct Box {
    QWidget* owner;
    QString text;
    QString caption;
  };

  MessageRecorder() {
    SetMessageBoxHandler(
        [this](QWidget* owner, const QString& text, const QString& caption) {
          boxes.push_back({owner, text, caption});
          if (on_box) on_box(boxes.back());
        });
  }
  ~MessageRecorder() { SetMessageBoxHandler(nullptr); }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  std::vector<Box> boxes;
  std::function<void(const Box&)> on_box;
};

// A gate a worker thread waits at until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  // Waits until opened or `cancel` is set; true when opened.
  bool Wait(const std::atomic<std::uint8_t>& cancel) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!open_ && cancel == 0) {
      cv_.wait_for(lock, std::chrono::milliseconds(2));
    }
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// A worker whose runs follow a script; `call` counts the runs from 0.
class ScriptedWorker : public CWorkerPage::CWorker {
 public:
  using Script = std::function<void(WorkerProgress& progress, int call)>;
  explicit ScriptedWorker(Script script) : script_(std::move(script)) {}

  void Run(WorkerProgress& progress) override {
    const int call = calls++;
    script_(progress, call);
    returned = calls.load();
  }

  std::atomic<int> calls{0};
  // The number of runs that have returned.
  std::atomic<int> returned{0};

 private:
  Script script_;
};

// Polls `done` while letting Qt work, for at most ten seconds (a guard
// against a hang, not a measure of speed).
inline bool WaitUntil(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    QApplication::processEvents();
    QThread::msleep(1);
  }
  return true;
}

// The state of the buttons that lead between pages. `next` is the button
// in Next's place: Next, or Commit on the summary page.
struct Buttons {
  bool back;
  bool next;
  bool finish;
};

inline bool Usable(const QWizard& wizard, QWizard::WizardButton which) {
  const QAbstractButton* button = wizard.button(which);
  return button->isVisibleTo(&wizard) && button->isEnabled();
}

inline Buttons ButtonsOf(const QWizard& wizard) {
  return {Usable(wizard, QWizard::BackButton),
          Usable(wizard, QWizard::NextButton) ||
              Usable(wizard, QWizard::CommitButton),
          Usable(wizard, QWizard::FinishButton)};
}

// Presses a wizard button as the user would: a disabled or hidden button
// does nothing. Next stands for the Commit button on the summary page.
inline void Press(QWizard& wizard, QWizard::WizardButton which) {
  if (which == QWizard::NextButton &&
      !wizard.button(QWizard::NextButton)->isVisibleTo(&wizard)) {
    which = QWizard::CommitButton;
  }
  QAbstractButton* button = wizard.button(which);
  if (button->isVisibleTo(&wizard)) button->click();
}

#endif  // TICKORA_TESTS_APP_APP_TEST_SUPPORT_H_
