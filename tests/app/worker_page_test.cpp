#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/custom_wizard.h"
#include "app/worker_page.h"
#include "support/cp932.h"
#include "tests/app/app_test_support.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"

namespace {

using State = CWorkerPage::State;

const char* const kBoxIds[4] = {"1009", "1003", "1011", "1004"};
const char* const kBoxTexts[4] = {
    "(1) 銘柄データのダウンロード", "(2) 株式分割データのダウンロード",
    "(3) 株価データのダウンロード", "(4) 信用残データのダウンロード"};

QString Running(int box) { return QString::fromUtf8(kBoxTexts[box]) + " ・・・"; }
QString Done(int box) { return QString::fromUtf8(kBoxTexts[box]) + " ・・・ 完了"; }
QString Plain(int box) { return QString::fromUtf8(kBoxTexts[box]); }

const QString kCaption = QStringLiteral("ダウンロード");
const QString kResumeText = QStringLiteral("ダウンロードを前回の続きから再開します");

TEST(DurationFormTest, HoursAndMinutesFromOneHourOn) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "00分00秒"},         {59, "00分59秒"},
      {61, "01分01秒"},        {3599, "59分59秒"},
      {3600, "01時間00分"},    {3725, "01時間02分"},
      {3659, "01時間00分"},    {360000, "100時間00分"},
      {4294967295u, "1193046時間28分"},
  };
  for (const auto& [seconds, text] : cases) {
    EXPECT_EQ(FormatDuration(seconds), QString::fromUtf8(text)) << seconds;
  }
}

class WorkerPageTest : public testing::Test {
 protected:
  WorkerPageTest()
      : config_("XDG_CONFIG_HOME", temp_.Sub("config").c_str()) {}

  // Builds the wizard (folder on the command line, no real run), runs
  // `worker` instead, and goes on to the progress page. `chosen` sets the
  // stage boxes' choices instead of the table page's when given.
  void Start(ScriptedWorker* worker,
             std::optional<std::pair<bool, bool>> chosen = std::nullopt) {
    wizard_ = std::make_unique<CCustomWizard>(
        ParseWizardCommandLine({temp_.Sub("db")}), nullptr);
    page_ = wizard_->WorkerPage();
    page_->SetWorker(worker);
    page_->SetClock([this] { return now_; });
    wizard_->show();
    for (int i = 0; i < 5; ++i) Press(*wizard_, QWizard::NextButton);
    ASSERT_EQ(wizard_->currentId(), CCustomWizard::kMessagePage);
    if (chosen) page_->SetStagesChosen(chosen->first, chosen->second);
    Press(*wizard_, QWizard::NextButton);
    ASSERT_EQ(wizard_->currentId(), CCustomWizard::kWorkerPage);
  }

  // Ticks until the page has seen the run end.
  void TickUntilEnded() {
    ASSERT_TRUE(WaitUntil([this] {
      page_->Refresh();
      return page_->state() != State::kRunning;
    }));
  }

  QCheckBox* Box(int i) const { return page_->findChild<QCheckBox*>(kBoxIds[i]); }
  QString Label(const char* id) const {
    return page_->findChild<QLabel*>(id)->text();
  }
  int Percent() const { return page_->findChild<QProgressBar*>("1010")->value(); }

  void ExpectBox(int i, bool checked, const QString& text) const {
    EXPECT_EQ(Box(i)->isChecked(), checked) << "box " << i + 1;
    EXPECT_EQ(Box(i)->text(), text) << "box " << i + 1;
  }

  TempDir temp_;
  ScopedEnv config_;
  MessageRecorder messages_;
  std::int64_t now_ = 1'000'000;
  std::unique_ptr<CCustomWizard> wizard_;
  CWorkerPage* page_ = nullptr;
};

TEST_F(WorkerPageTest, TicksBeforeAndAfterTheRunEnds) {
  const std::string data = temp_.Sub("config") + "/Zelvane/Tickora/data";
  std::filesystem::create_directories(data + "/sub");
  std::ofstream(data + "/sub/old.dat") << "old";

  Gate gate;
  std::atomic<bool> reached{false};
  ScriptedWorker worker([&](WorkerProgress& p, int) {
    p.stage = 1;
    p.total = 200;
    p.done = 50;
    p.SetStatus(Cp932FromUtf8("銘柄データ 1301 を保存しました"));
    reached = true;
    gate.Wait(p.cancel);
    // Everything after this happens between two ticks.
    p.stage = 3;
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
  ExpectBox(0, true, Running(0));
  ExpectBox(2, false, Plain(2));
  EXPECT_TRUE(page_->TimerActive());
  EXPECT_FALSE(ButtonsOf(*wizard_).back);
  EXPECT_FALSE(ButtonsOf(*wizard_).next);

  // The tick that sees the end shows the final look before the message.
  int percent_at_box = -1;
  QString box3_at_box;
  messages_.on_box = [&](const MessageRecorder::Box&) {
    percent_at_box = Percent();
    box3_at_box = Box(2)->text();
  };
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return worker.returned == 1; }));
  TickUntilEnded();
  EXPECT_EQ(page_->state(), State::kFinished);
  ASSERT_EQ(messages_.boxes.size(), 1u);
  EXPECT_EQ(messages_.boxes[0].text, QStringLiteral("ダウンロードを完了しました"));
  EXPECT_EQ(messages_.boxes[0].caption, kCaption);
  EXPECT_EQ(messages_.boxes[0].owner, page_);
  EXPECT_EQ(percent_at_box, 100);
  EXPECT_EQ(box3_at_box, Done(2));
  ExpectBox(0, true, Done(0));
  ExpectBox(1, true, Done(1));  // splits are always chosen on the table page
  ExpectBox(3, false, Plain(3));  // margin was not chosen
  EXPECT_FALSE(Box(3)->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(data));
  EXPECT_TRUE(std::filesystem::exists(temp_.Sub("config")));
  EXPECT_FALSE(page_->TimerActive());
  EXPECT_FALSE(page_->IsRunning());
  EXPECT_FALSE(page_->ResumePending());
  EXPECT_FALSE(ButtonsOf(*wizard_).back);
  EXPECT_TRUE(ButtonsOf(*wizard_).next);

  Press(*wizard_, QWizard::NextButton);
  EXPECT_EQ(wizard_->currentId(), CCustomWizard::kEndPage);
  const Buttons end = ButtonsOf(*wizard_);
  EXPECT_FALSE(end.back);
  EXPECT_TRUE(end.finish);
  Press(*wizard_, QWizard::CancelButton);  // Cancel on the end page closes
  EXPECT_FALSE(wizard_->isVisible());
  EXPECT_EQ(worker.calls, 1);
}

TEST_F(WorkerPageTest, FailureInPriceStageThenResumeAfterNext) {
  Gate gate;
  std::atomic<bool> reached{false};
  int seen_resume = -1, seen_stage = -1, seen_index = -1;
  std::string seen_error = "unset";
  ScriptedWorker worker([&](WorkerProgress& p, int call) {
    if (call == 0) {
      p.stage = 1;
      p.stage = 2;
      p.stage = 3;
      p.resumeIndex = 7;
      p.total = 1000;
      p.done = 300;
      p.SetError(Cp932FromUtf8("株価データを取得できませんでした(6758)"));
      return;
    }
    seen_resume = p.resume;
    seen_stage = p.stage;
    seen_index = p.resumeIndex;
    seen_error = p.Error();
    reached = true;
    gate.Wait(p.cancel);
    p.stage = 5;
  });
  Start(&worker);
  ASSERT_TRUE(WaitUntil([&] { return worker.returned == 1; }));
  TickUntilEnded();

  EXPECT_EQ(page_->state(), State::kFailed);
  ASSERT_EQ(messages_.boxes.size(), 2u);
  EXPECT_EQ(messages_.boxes[0].text,
            QStringLiteral("株価データを取得できませんでした(6758)"));
  EXPECT_TRUE(messages_.boxes[0].caption.isNull());
  EXPECT_EQ(messages_.boxes[1].text,
            QStringLiteral("ダウンロードはエラーのため中断しました。\n"
                           "もう一回キャンセルを押すと終了し、次へを押すと続きから再試行します。"));
  EXPECT_EQ(messages_.boxes[1].caption, kCaption);
  EXPECT_EQ(Percent(), 30);
  ExpectBox(0, true, Done(0));
  ExpectBox(1, true, Done(1));
  ExpectBox(2, true, Running(2));
  EXPECT_TRUE(page_->ResumePending());
  EXPECT_FALSE(ButtonsOf(*wizard_).back);
  EXPECT_TRUE(ButtonsOf(*wizard_).next);

  // Next resumes on the same page, at the same issue.
  Press(*wizard_, QWizard::NextButton);
  EXPECT_EQ(wizard_->currentId(), CCustomWizard::kWorkerPage);
  ASSERT_EQ(messages_.boxes.size(), 3u);
  EXPECT_EQ(messages_.boxes[2].text, kResumeText);
  EXPECT_TRUE(messages_.boxes[2].caption.isNull());
  EXPECT_FALSE(ButtonsOf(*wizard_).next);
  EXPECT_FALSE(page_->ResumePending());
  ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
  EXPECT_EQ(seen_resume, 1);
  EXPECT_EQ(seen_stage, 3);
  EXPECT_EQ(seen_index, 7);
  EXPECT_EQ(seen_error, "");
  page_->Refresh();
  EXPECT_EQ(Percent(), 0);  // the resumed run starts its count afresh
  ExpectBox(0, true, Done(0));
  ExpectBox(2, true, Running(2));

  gate.Open();
  TickUntilEnded();
  EXPECT_EQ(page_->state(), State::kFinished);
  ExpectBox(2, true, Done(2));
  EXPECT_EQ(messages_.boxes.back().text, QStringLiteral("ダウンロードを完了しました"));
  EXPECT_EQ(worker.calls, 2);
}

// A worker that works in the price stage until it sees the cancel, then
// stops without an error; a later run notes where it was asked to resume
// and finishes at once.
ScriptedWorker::Script UntilCancelled(std::atomic<bool>* started,
                                      std::atomic<int>* resumed_at = nullptr) {
  return [started, resumed_at](WorkerProgress& p, int call) {
    if (call > 0) {
      if (resumed_at != nullptr && p.resume == 1) *resumed_at = p.resumeIndex.load();
      p.stage = 5;
      return;
    }
    p.stage = 3;
    p.resumeIndex = 42;
    *started = true;
    while (p.cancel == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
}

TEST_F(WorkerPageTest, CancelWhileRunningJoinsAndLeavesAResume) {
  std::atomic<bool> started{false};
  ScriptedWorker worker(UntilCancelled(&started));
  Start(&worker);
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));

  Press(*wizard_, QWizard::CancelButton);
  // Cancel waited for the thread: it has returned and is joined.
  EXPECT_EQ(worker.returned, 1);
  EXPECT_FALSE(page_->IsRunning());
  EXPECT_FALSE(page_->TimerActive());
  EXPECT_TRUE(wizard_->isVisible());
  EXPECT_EQ(page_->state(), State::kCancelled);
  EXPECT_TRUE(page_->ResumePending());
  ASSERT_EQ(messages_.boxes.size(), 1u);
  EXPECT_EQ(messages_.boxes[0].text,
            QStringLiteral("ダウンロードを中断しました。\nもう一回キャンセルを押すと終了し、"
                           "一旦戻ってから次へを押すと続きからダウンロードを再開します。"));
  EXPECT_EQ(messages_.boxes[0].caption, kCaption);
  EXPECT_FALSE(ButtonsOf(*wizard_).back);
  EXPECT_TRUE(ButtonsOf(*wizard_).next);
  EXPECT_EQ(page_->Progress().stage, 3);
  EXPECT_EQ(page_->Progress().resumeIndex, 42);

  // A second Cancel, with no run going on, closes the wizard.
  Press(*wizard_, QWizard::CancelButton);
  EXPECT_FALSE(wizard_->isVisible());
  EXPECT_EQ(messages_.boxes.size(), 1u);
}

TEST_F(WorkerPageTest, NextAfterCancelResumesTheRun) {
  std::atomic<bool> started{false};
  std::atomic<int> resumed_at{-1};
  ScriptedWorker worker(UntilCancelled(&started, &resumed_at));
  Start(&worker);
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
  Press(*wizard_, QWizard::CancelButton);
  ASSERT_TRUE(page_->ResumePending());

  Press(*wizard_, QWizard::NextButton);
  EXPECT_EQ(messages_.boxes.back().text, kResumeText);
  TickUntilEnded();
  EXPECT_EQ(worker.calls, 2);
  EXPECT_EQ(resumed_at, 42);
  EXPECT_EQ(page_->state(), State::kFinished);
  EXPECT_EQ(page_->Progress().cancel, 0);
  // Cancel after success closes.
  Press(*wizard_, QWizard::CancelButton);
  EXPECT_FALSE(wizard_->isVisible());
}

TEST_F(WorkerPageTest, ElapsedAndRemainingInDurationForm) {
  Gate gate;
  std::atomic<int> phase{0};
  ScriptedWorker worker([&](WorkerProgress& p, int) {
    p.stage = 3;
    phase = 1;
    gate.Wait(p.cancel);
  });
  Start(&worker);
  ASSERT_TRUE(WaitUntil([&] { return phase == 1; }));

  WorkerProgress& p = page_->Progress();
  p.total = 100;
  p.done = 0;
  now_ += 3599;
  page_->Refresh();
  EXPECT_EQ(Label("1012"), QStringLiteral("59分59秒"));
  EXPECT_EQ(Label("1014"), QStringLiteral("00時間00分"));  // nothing done yet

  now_ += 1;
  p.done = 25;
  page_->Refresh();
  EXPECT_EQ(Label("1012"), QStringLiteral("01時間00分"));
  EXPECT_EQ(Label("1014"), QStringLiteral("03時間00分"));  // 3600 / 25 * 75

  now_ += 360000 - 3600;
  p.done = 99;
  page_->Refresh();
  EXPECT_EQ(Label("1012"), QStringLiteral("100時間00分"));
  EXPECT_EQ(Label("1014"), QStringLiteral("01時間00分"));  // 360000 / 99, cut

  // A stage without work units leaves the bar empty.
  p.total = 0;
  p.done = 0;
  page_->Refresh();
  EXPECT_EQ(Percent(), 0);
  gate.Open();
  TickUntilEnded();
}

TEST_F(WorkerPageTest, SplitsNotChosenLeavesBoxTwoDisabled) {
  Gate gate;
  std::atomic<bool> reached{false};
  ScriptedWorker worker([&](WorkerProgress& p, int) {
    p.stage = 4;
    reached = true;
    gate.Wait(p.cancel);
    p.stage = 5;
  });
  Start(&worker, std::make_pair(false, true));
  EXPECT_FALSE(Box(1)->isEnabled());
  EXPECT_TRUE(Box(3)->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
  page_->Refresh();
  ExpectBox(1, false, Plain(1));
  ExpectBox(2, true, Done(2));
  ExpectBox(3, true, Running(3));
  gate.Open();
  TickUntilEnded();
  ExpectBox(1, false, Plain(1));
  EXPECT_FALSE(Box(1)->isEnabled());
  ExpectBox(3, true, Done(3));
}

TEST_F(WorkerPageTest, MissingRunFailsWithAMessage) {
  // The wizard itself as the worker, built without a run.
  wizard_ = std::make_unique<CCustomWizard>(
      ParseWizardCommandLine({temp_.Sub("db")}), nullptr);
  page_ = wizard_->WorkerPage();
  wizard_->show();
  for (int i = 0; i < 6; ++i) Press(*wizard_, QWizard::NextButton);
  TickUntilEnded();
  EXPECT_EQ(page_->state(), State::kFailed);
  ASSERT_EQ(messages_.boxes.size(), 2u);
  EXPECT_FALSE(messages_.boxes[0].text.isEmpty());
}

}  // namespace
