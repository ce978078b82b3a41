#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/worker_page.h"
#include "support/cp932.h"
#include "tests/app/app_test_support.h"

namespace {

using State = CWorkerPage::State;

const char* const kBoxIds[4] = {"1009", "1003", "1011", "1004"};
const char* const kBoxTexts[4] = {
    "(1) 銘柄データのダウンロード", "(2) 株式分割データのダウンロード",
    "(3) 株価データのダウンロード", "(4) 信用残データのダウンロード"};
const QString kCaption = QStringLiteral("ダウンロード");
const QString kResumeText = QStringLiteral("ダウンロードを前回の続きから再開します");

// The looks of a stage box: unticked as built, ticked while its stage runs,
// ticked with 完了 after it.
enum Look { kPlain, kRunning, kDone };

TEST(DurationFormTest, HoursAndMinutesFromOneHourOn) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "00分00秒"}, {59, "00分59秒"}, {3725, "01時間02分"},
      {4294967295u, "1193046時間28分"},
  };
  for (const auto& [seconds, text] : cases) {
    EXPECT_EQ(FormatDuration(seconds), QString::fromUtf8(text)) << seconds;
  }
}

class WorkerPageTest : public WizardFixture {
 protected:
  // A wizard with a folder on the command line and no run of its own runs
  // `worker` on its progress page. `chosen` replaces the table page's
  // choice of splits and margin for the stage boxes.
  void Start(ScriptedWorker* worker,
             std::optional<std::pair<bool, bool>> chosen = std::nullopt) {
    Make({temp_.Sub("db")});
    page_ = wizard_->WorkerPage();
    page_->SetWorker(worker);
    page_->SetClock([this] { return now_; });
    for (int i = 0; i < 5; ++i) Next();
    ASSERT_EQ(wizard_->currentId(), CCustomWizard::kMessagePage);
    if (chosen) page_->SetStagesChosen(chosen->first, chosen->second);
    Next();
    ASSERT_EQ(wizard_->currentId(), CCustomWizard::kWorkerPage);
  }

  QCheckBox* Box(int i) const { return page_->findChild<QCheckBox*>(kBoxIds[i]); }
  QString Label(const char* id) const { return page_->findChild<QLabel*>(id)->text(); }
  int Percent() const { return page_->findChild<QProgressBar*>("1010")->value(); }
  void ExpectBoxes(std::initializer_list<Look> looks) const {
    int i = 0;
    for (Look look : looks) {
      const QString base = QString::fromUtf8(kBoxTexts[i]);
      EXPECT_EQ(Box(i)->isChecked(), look != kPlain) << "box " << i + 1;
      EXPECT_EQ(Box(i)->text(), look == kPlain     ? base
                                : look == kRunning ? base + " ・・・"
                                                   : base + " ・・・ 完了")
          << "box " << i + 1;
      ++i;
    }
  }

  std::int64_t now_ = 1'000'000;
  CWorkerPage* page_ = nullptr;
};

TEST_F(WorkerPageTest, TicksBeforeAndAfterTheRunEnds) {
  const std::string data = temp_.Sub("config") + "/Zelvane/Tickora/data";
  std::filesystem::create_directories(data + "/sub");
  std::ofstream(data + "/sub/old.dat") << "old";

  std::atomic<bool> reached{false}, go{false};
  ScriptedWorker worker([&](WorkerProgress& p, int) {
    p.stage = 1;
    p.total = 200;
    p.done = 50;
    p.SetStatus(Cp932FromUtf8("銘柄データ 1301 を保存しました"));
    reached = true;
    while (!go) std::this_thread::yield();
    p.stage = 3;  // everything from here on falls between two ticks
    p.stage = 5;
    p.done = p.total.load();
  });
  Start(&worker);
  EXPECT_EQ(Label("1013"), QStringLiteral("STATUS"));
  EXPECT_EQ(Label("1012"), QStringLiteral("00時間00分"));
  ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
  now_ += 30;
  page_->Refresh();
  EXPECT_EQ(Percent(), 25);
  EXPECT_EQ(Label("1013"), QStringLiteral("銘柄データ 1301 を保存しました"));
  EXPECT_EQ(Label("1012"), QStringLiteral("00分30秒"));
  EXPECT_EQ(Label("1014"), QStringLiteral("01分30秒"));  // 30 / 50 * 150
  ExpectBoxes({kRunning, kPlain, kPlain, kPlain});
  EXPECT_TRUE(page_->TimerActive());
  EXPECT_EQ(Usable(*wizard_), "");

  // The tick that sees the end shows the final look before the message.
  int percent_at_box = -1;
  on_box_ = [&] { percent_at_box = Percent(); ExpectBoxes({kDone, kDone, kDone}); };
  go = true;
  ASSERT_TRUE(WaitUntil([&] { return worker.returned == 1; }));
  TickUntilEnded();
  EXPECT_EQ(page_->state(), State::kFinished);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, QStringLiteral("ダウンロードを完了しました"));
  EXPECT_EQ(boxes_[0].caption, kCaption);
  EXPECT_EQ(boxes_[0].owner, page_);
  EXPECT_EQ(percent_at_box, 100);
  ExpectBoxes({kDone, kDone, kDone, kPlain});  // margin was not chosen
  EXPECT_FALSE(std::filesystem::exists(data));
  EXPECT_TRUE(std::filesystem::exists(temp_.Sub("config")));
  EXPECT_FALSE(page_->TimerActive());
  EXPECT_FALSE(page_->ResumePending());
  EXPECT_EQ(Usable(*wizard_), "next ");
  Next();
  EXPECT_EQ(wizard_->currentId(), CCustomWizard::kEndPage);
  Cancel();  // on the end page: closes
  EXPECT_FALSE(wizard_->isVisible());
}

TEST_F(WorkerPageTest, FailureInPriceStageThenResumeAfterNext) {
  std::atomic<bool> reached{false}, go{false};
  int seen_resume = -1, seen_stage = -1, seen_index = -1;
  ScriptedWorker worker([&](WorkerProgress& p, int call) {
    if (call == 0) {
      for (int stage : {1, 2, 3}) p.stage = stage;
      p.resumeIndex = 7;
      p.total = 1000;
      p.done = 300;
      p.SetError(Cp932FromUtf8("株価データを取得できませんでした(6758)"));
      return;
    }
    seen_resume = p.resume;
    seen_stage = p.stage;
    seen_index = p.resumeIndex;
    reached = p.Error().empty();
    while (!go) std::this_thread::yield();
    p.stage = 5;
  });
  Start(&worker);
  ASSERT_TRUE(WaitUntil([&] { return worker.returned == 1; }));
  TickUntilEnded();
  EXPECT_EQ(page_->state(), State::kFailed);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text, QStringLiteral("株価データを取得できませんでした(6758)"));
  EXPECT_TRUE(boxes_[0].caption.isNull());
  EXPECT_EQ(boxes_[1].text,
            QStringLiteral("ダウンロードはエラーのため中断しました。\n"
                           "もう一回キャンセルを押すと終了し、次へを押すと続きから再試行します。"));
  EXPECT_EQ(boxes_[1].caption, kCaption);
  EXPECT_EQ(Percent(), 30);
  ExpectBoxes({kDone, kDone, kRunning, kPlain});
  EXPECT_TRUE(page_->ResumePending());
  EXPECT_EQ(Usable(*wizard_), "next ");

  Next();  // resumes on the same page, at the same issue
  EXPECT_EQ(wizard_->currentId(), CCustomWizard::kWorkerPage);
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[2].text, kResumeText);
  EXPECT_TRUE(boxes_[2].caption.isNull());
  EXPECT_EQ(Usable(*wizard_), "");
  ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
  EXPECT_EQ(seen_resume, 1);
  EXPECT_EQ(seen_stage, 3);
  EXPECT_EQ(seen_index, 7);
  page_->Refresh();
  ExpectBoxes({kDone, kDone, kRunning, kPlain});
  go = true;
  TickUntilEnded();
  EXPECT_EQ(page_->state(), State::kFinished);
  ExpectBoxes({kDone, kDone, kDone, kPlain});
  EXPECT_EQ(worker.calls, 2);
}

TEST_F(WorkerPageTest, CancelWhileRunningThenResumeThenClose) {
  std::atomic<bool> started{false};
  int resumed_at = -1;
  ScriptedWorker worker([&](WorkerProgress& p, int call) {
    if (call > 0) {
      if (p.resume == 1) resumed_at = p.resumeIndex;
      p.stage = 5;
      return;
    }
    p.stage = 3;
    p.resumeIndex = 42;
    started = true;
    while (p.cancel == 0) std::this_thread::yield();
  });
  Start(&worker);
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
  Cancel();
  EXPECT_EQ(worker.returned, 1);  // Cancel waited for the thread
  EXPECT_FALSE(page_->IsRunning());
  EXPECT_FALSE(page_->TimerActive());
  EXPECT_TRUE(wizard_->isVisible());
  EXPECT_EQ(page_->state(), State::kCancelled);
  EXPECT_TRUE(page_->ResumePending());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text,
            QStringLiteral("ダウンロードを中断しました。\nもう一回キャンセルを押すと終了し、"
                           "一旦戻ってから次へを押すと続きからダウンロードを再開します。"));
  EXPECT_EQ(boxes_[0].caption, kCaption);
  EXPECT_EQ(Usable(*wizard_), "next ");

  Next();
  EXPECT_EQ(boxes_.back().text, kResumeText);
  TickUntilEnded();
  EXPECT_EQ(resumed_at, 42);
  EXPECT_EQ(page_->state(), State::kFinished);
  Cancel();  // no run going on: closes
  EXPECT_FALSE(wizard_->isVisible());
}

TEST_F(WorkerPageTest, ElapsedAndRemainingInDurationForm) {
  std::atomic<bool> reached{false};
  ScriptedWorker worker([&](WorkerProgress& p, int) {
    p.stage = 3;
    reached = true;
    while (p.cancel == 0) std::this_thread::yield();
  });
  Start(&worker);
  ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
  WorkerProgress& p = page_->Progress();
  const struct {
    std::int64_t elapsed;
    std::int32_t total, done;
    const char* shown;
    const char* left;
    int percent;
  } ticks[] = {
      {3599, 100, 0, "59分59秒", "00時間00分", 0},  // nothing done: kept
      {3600, 100, 25, "01時間00分", "03時間00分", 25},
      {360000, 100, 99, "100時間00分", "01時間00分", 99},  // 3636.36 cut
      {360000, 0, 0, "100時間00分", "01時間00分", 0},  // no work units
  };
  const std::int64_t start = now_;
  for (const auto& t : ticks) {
    now_ = start + t.elapsed;
    p.total = t.total;
    p.done = t.done;
    page_->Refresh();
    EXPECT_EQ(Label("1012"), QString::fromUtf8(t.shown));
    EXPECT_EQ(Label("1014"), QString::fromUtf8(t.left));
    EXPECT_EQ(Percent(), t.percent);
  }
  Cancel();
}

TEST_F(WorkerPageTest, SplitsNotChosenLeavesBoxTwoDisabled) {
  std::atomic<bool> reached{false}, go{false};
  ScriptedWorker worker([&](WorkerProgress& p, int) {
    p.stage = 4;
    reached = true;
    while (!go) std::this_thread::yield();
    p.stage = 5;
  });
  Start(&worker, std::make_pair(false, true));
  EXPECT_FALSE(Box(1)->isEnabled());
  EXPECT_TRUE(Box(3)->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
  page_->Refresh();
  ExpectBoxes({kDone, kPlain, kDone, kRunning});
  go = true;
  TickUntilEnded();
  ExpectBoxes({kDone, kPlain, kDone, kDone});
  EXPECT_FALSE(Box(1)->isEnabled());
}

}  // namespace
