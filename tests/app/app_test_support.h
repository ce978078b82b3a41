#ifndef TICKORA_TESTS_APP_APP_TEST_SUPPORT_H_
#define TICKORA_TESTS_APP_APP_TEST_SUPPORT_H_

#include <QAbstractButton>
#include <QApplication>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/custom_wizard.h"
#include "app/message_box.h"
#include "tests/common/sim_market_fixture.h"

// A worker whose runs follow a script; `call` counts the runs from 0.
class ScriptedWorker : public CWorkerPage::CWorker {
 public:
  using Script = std::function<void(WorkerProgress& progress, int call)>;
  explicit ScriptedWorker(Script script) : script_(std::move(script)) {}
  void Run(WorkerProgress& progress) override {
    script_(progress, calls++);
    ++returned;
  }
  std::atomic<int> calls{0};
  std::atomic<int> returned{0};

 private:
  Script script_;
};

// Polls `done` while letting Qt work, for at most `seconds` (a guard
// against a hang, not a measure of speed).
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 10) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    QApplication::processEvents();
    QThread::msleep(1);
  }
  return true;
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

// Which of Back, Next (or Commit) and Finish can be pressed.
inline std::string Usable(const QWizard& w) {
  auto usable = [&w](QWizard::WizardButton b) {
    return w.button(b)->isVisibleTo(&w) && w.button(b)->isEnabled();
  };
  std::string s;
  if (usable(QWizard::BackButton)) s += "back ";
  if (usable(QWizard::NextButton) || usable(QWizard::CommitButton)) s += "next ";
  if (usable(QWizard::FinishButton)) s += "finish ";
  return s;
}

// A shown wizard whose per-user folders lie in a scratch folder and whose
// message boxes are answered at once and recorded. `on_box`, when set, runs
// while a box "is shown". A market is served only when a test calls Serve.
class WizardFixture : public SimMarketFixture {
 protected:
  struct Box {
    QWidget* owner;
    QString text;
    QString caption;
  };

  WizardFixture() : config_("XDG_CONFIG_HOME", temp_.Sub("config").c_str()) {
    SetMessageBoxHandler([this](QWidget* owner, const QString& text,
                                const QString& caption) {
      boxes_.push_back({owner, text, caption});
      if (on_box_) on_box_();
    });
  }
  ~WizardFixture() override {
    wizard_.reset();
    SetMessageBoxHandler(nullptr);
  }
  void SetUp() override {}

  void Make(const std::vector<std::string>& words,
            const CCustomWizard::RunFactory& factory = nullptr) {
    wizard_ = std::make_unique<CCustomWizard>(ParseWizardCommandLine(words),
                                              factory);
    wizard_->show();
  }
  void Next() { Press(*wizard_, QWizard::NextButton); }
  void Back() { Press(*wizard_, QWizard::BackButton); }
  void Cancel() { Press(*wizard_, QWizard::CancelButton); }

  // A control of the current page (ids repeat across pages).
  template <typename T>
  T* Find(const char* id) const {
    return wizard_->currentPage()->findChild<T*>(id);
  }

  // Ticks the progress page until it has seen the run end.
  void TickUntilEnded(int seconds = 10) {
    CWorkerPage* page = wizard_->WorkerPage();
    ASSERT_TRUE(WaitUntil([page] {
      page->Refresh();
      return page->state() != CWorkerPage::State::kRunning;
    }, seconds));
  }

  TempDir temp_;
  ScopedEnv config_;
  std::vector<Box> boxes_;
  std::function<void()> on_box_;
  std::unique_ptr<CCustomWizard> wizard_;
};

#endif  // TICKORA_TESTS_APP_APP_TEST_SUPPORT_H_
