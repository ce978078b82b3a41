#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>

#include <filesystem>
#include <fstream>

#include "support/cp932.h"
#include "tests/app/app_test_support.h"

namespace {

using State = CWorkerPage::State;

class WorkerPageTest : public WizardFixture {
 protected:
  // A wizard with a folder on the command line and no run of its own runs
  // `worker` on its progress page, with splits and margin balances chosen
  // on the table page as given.
  void Start(ScriptedWorker* worker, bool splits = true, bool margin = false) {
    Make({temp_.Sub("db")});
    page_ = wizard_->WorkerPage();
    page_->SetWorker(worker);
    page_->SetClock([this] { return now_; });
    for (int i = 0; i < 3; ++i) Next();
    Find<QCheckBox>("1003")->setChecked(splits);
    Find<QCheckBox>("1004")->setChecked(margin);
    for (int i = 0; i < 3; ++i) Next();
    ASSERT_EQ(wizard_->currentId(), CCustomWizard::kWorkerPage);
  }

  // Called by a worker: stops it until `go_` is set or the run is cancelled.
  void Hold(WorkerProgress& p) {
    held_ = true;
    while (!go_ && p.cancel == 0) std::this_thread::yield();
  }
  void AwaitHeld() { ASSERT_TRUE(WaitUntil([this] { return held_.load(); })); }

  QCheckBox* Box(int i) const {
    static const char* const kIds[4] = {"1009", "1003", "1011", "1004"};
    return page_->findChild<QCheckBox*>(kIds[i]);
  }
  std::string Label(const char* id) const {
    return page_->findChild<QLabel*>(id)->text().toStdString();
  }
  int Percent() const { return page_->findChild<QProgressBar*>("1010")->value(); }

  // One letter a stage box: '-' unticked as built, 'r' ticked while its
  // stage runs, 'd' ticked with 完了 after it.
  void ExpectBoxes(const std::string& looks) const {
    static const char* const kTexts[4] = {
        "(1) 銘柄データのダウンロード", "(2) 株式分割データのダウンロード",
        "(3) 株価データのダウンロード", "(4) 信用残データのダウンロード"};
    for (size_t i = 0; i < looks.size(); ++i) {
      const std::string base = kTexts[i];
      EXPECT_EQ(Box(i)->isChecked(), looks[i] != '-') << "box " << i + 1;
      EXPECT_EQ(Box(i)->text().toStdString(), looks[i] == '-'   ? base
                                              : looks[i] == 'r' ? base + " ・・・"
                                                                : base + " ・・・ 完了")
          << "box " << i + 1;
    }
  }

  // The message boxes shown so far, each as its text ending in '|', after
  // "<caption>: " when it carried a caption rather than none at all.
  std::string Messages() const {
    std::string all;
    for (const auto& box : boxes_) {
      if (!box.caption.isNull()) all += box.caption.toStdString() + ": ";
      all += box.text.toStdString() + "|";
    }
    return all;
  }

  std::int64_t now_ = 1'000'000;
  CWorkerPage* page_ = nullptr;
  std::atomic<bool> held_{false}, go_{false};
};

// One run through the page with splits left out and margin balances chosen:
// the ticks while it is held, a failure in the price stage, a resume after
// Next at the same issue, and the end.
TEST_F(WorkerPageTest, TicksFailureThenResumeAfterNextToTheEnd) {
  const std::string data = temp_.Sub("config") + "/Zelvane/Tickora/data";
  std::filesystem::create_directories(data + "/sub");
  std::ofstream(data + "/sub/old.dat") << "old";
  std::string seen;  // the second run's resume flag, stage, index and error
  ScriptedWorker worker([&](WorkerProgress& p, int call) {
    if (call == 0) {
      p.stage = 1;
      p.SetStatus(Cp932FromUtf8("銘柄データ 1301 を保存しました"));
      Hold(p);
      for (int stage : {2, 3}) p.stage = stage;
      p.resumeIndex = 7;
      p.total = 1000;
      p.done = 300;
      p.SetError(Cp932FromUtf8("株価データを取得できませんでした(6758)"));
      return;
    }
    seen = std::to_string(p.resume) + " " + std::to_string(p.stage) + " " +
           std::to_string(p.resumeIndex) + " '" + p.Error() + "'";
    Hold(p);
    p.stage = 5;  // the margin stage falls between two ticks
    p.done = p.total.load();
  });
  Start(&worker, false, true);
  EXPECT_FALSE(Box(1)->isEnabled());
  EXPECT_TRUE(Box(3)->isEnabled());
  EXPECT_EQ(Label("1013"), "STATUS");
  EXPECT_EQ(Label("1012"), "00時間00分");
  AwaitHeld();
  // Ticks while the run is held: elapsed time, time left, percent.
  WorkerProgress& p = page_->Progress();
  const struct {
    std::int64_t elapsed;
    std::int32_t total, done;
    const char* shown;
    const char* left;
    int percent;
  } ticks[] = {
      {30, 200, 50, "00分30秒", "01分30秒", 25},  // 30 / 50 * 150
      {3599, 100, 0, "59分59秒", "01分30秒", 0},  // nothing done: kept
      {3600, 100, 25, "01時間00分", "03時間00分", 25},
      {360000, 100, 99, "100時間00分", "01時間00分", 99},  // 3636.36 cut
      {360000, 0, 0, "100時間00分", "01時間00分", 0},  // no work units
      {360000, 100000000, 1, "100時間00分", "1193046時間28分", 0},  // cut at 2^32 - 1 s
  };
  const std::int64_t start = now_;
  for (const auto& t : ticks) {
    now_ = start + t.elapsed;
    p.total = t.total;
    p.done = t.done;
    page_->Refresh();
    EXPECT_EQ(Label("1012"), t.shown);
    EXPECT_EQ(Label("1014"), t.left);
    EXPECT_EQ(Percent(), t.percent);
  }
  EXPECT_EQ(Label("1013"), "銘柄データ 1301 を保存しました");
  // A line wider than the page is shown whole, on as many lines as it takes.
  p.SetStatus(Cp932FromUtf8(
      "銘柄コード 3031(813/3934個目) の 2026/12/6 までの株価データをダウンロードしました"));
  page_->Refresh();
  QApplication::processEvents();
  const QLabel* status = page_->findChild<QLabel*>("1013");
  const QRect room = status->contentsRect();
  const QRect needed = status->fontMetrics().boundingRect(
      QRect(0, 0, room.width(), 10000), status->wordWrap() ? Qt::TextWordWrap : 0,
      status->text());
  ASSERT_GT(status->fontMetrics().horizontalAdvance(status->text()), room.width());
  EXPECT_LE(needed.width(), room.width());
  EXPECT_LE(needed.height(), room.height());
  ExpectBoxes("r---");
  EXPECT_TRUE(page_->TimerActive());
  EXPECT_EQ(Usable(*wizard_), "");

  go_ = true;
  ASSERT_TRUE(WaitUntil([&] { return worker.returned == 1; }));
  TickUntilEnded();
  EXPECT_EQ(page_->state(), State::kFailed);
  const std::string failed =
      "株価データを取得できませんでした(6758)|"
      "ダウンロード: ダウンロードはエラーのため中断しました。\n"
      "もう一回キャンセルを押すと終了し、次へを押すと続きから再試行します。|";
  EXPECT_EQ(Messages(), failed);
  EXPECT_EQ(Percent(), 30);
  ExpectBoxes("d-r-");
  EXPECT_TRUE(page_->ResumePending());
  EXPECT_EQ(Usable(*wizard_), "next ");

  held_ = false;
  go_ = false;
  Next();  // resumes on the same page, at the same issue
  EXPECT_EQ(wizard_->currentId(), CCustomWizard::kWorkerPage);
  EXPECT_EQ(Messages(), failed + "ダウンロードを前回の続きから再開します|");
  EXPECT_EQ(Usable(*wizard_), "");
  AwaitHeld();
  EXPECT_EQ(seen, "1 3 7 ''");
  page_->Refresh();
  ExpectBoxes("d-r-");

  // The tick that sees the end shows the final look before the message.
  int percent_at_box = -1;
  on_box_ = [&] { percent_at_box = Percent(); ExpectBoxes("d-dd"); };
  go_ = true;
  ASSERT_TRUE(WaitUntil([&] { return worker.returned == 2; }));
  TickUntilEnded();
  EXPECT_EQ(page_->state(), State::kFinished);
  EXPECT_EQ(Messages(), failed + "ダウンロードを前回の続きから再開します|"
                                 "ダウンロード: ダウンロードを完了しました|");
  EXPECT_EQ(boxes_.back().owner, page_);
  EXPECT_EQ(percent_at_box, 100);
  EXPECT_EQ(worker.calls, 2);
  EXPECT_FALSE(std::filesystem::exists(data));
  EXPECT_FALSE(page_->TimerActive());
  EXPECT_FALSE(page_->ResumePending());
  EXPECT_EQ(Usable(*wizard_), "next ");
  Next();
  EXPECT_EQ(wizard_->currentId(), CCustomWizard::kEndPage);
  Cancel();  // on the end page: closes
  EXPECT_FALSE(wizard_->isVisible());
}

// Cancel pressed while the run goes on stops it at the flag and leaves a
// resume. Pressed after the run ended on its own, before a tick showed it,
// or while the run was in its last steps (which do not look at the flag),
// it shows the real outcome, and only a failure leaves a resume. Cancel
// waits for the run's thread; pressed again, it closes the wizard.
TEST_F(WorkerPageTest, CancelShowsTheRunsRealOutcome) {
  const struct {
    const char* name;
    bool waitsForCancel;
    const char* error;
    State state;
    const char* messages;
  } cases[] = {
      {"running", true, "", State::kCancelled,
       "ダウンロード: ダウンロードを中断しました。\nもう一回キャンセルを押すと終了し、"
       "一旦戻ってから次へを押すと続きからダウンロードを再開します。|"},
      {"finished", false, "", State::kFinished, "ダウンロード: ダウンロードを完了しました|"},
      {"failed", false, "書き込めませんでした", State::kFailed,
       "書き込めませんでした|ダウンロード: ダウンロードはエラーのため中断しました。\n"
       "もう一回キャンセルを押すと終了し、次へを押すと続きから再試行します。|"},
      {"last steps", true, "", State::kFinished, "ダウンロード: ダウンロードを完了しました|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes_.clear();
    ScriptedWorker worker([&](WorkerProgress& p, int) {
      p.stage = 4;
      if (c.waitsForCancel) {
        held_ = true;
        while (p.cancel == 0) std::this_thread::yield();
      }
      if (c.state == State::kCancelled) return;  // a stage stops at the flag
      if (*c.error) p.SetError(Cp932FromUtf8(c.error));
      else p.stage = 5;
    });
    Start(&worker);
    if (c.waitsForCancel) AwaitHeld();
    else ASSERT_TRUE(WaitUntil([&] { return worker.returned == 1; }));
    Cancel();
    EXPECT_EQ(worker.returned, 1);
    EXPECT_FALSE(page_->TimerActive());
    EXPECT_EQ(page_->state(), c.state);
    EXPECT_EQ(page_->ResumePending(), c.state != State::kFinished);
    EXPECT_EQ(Messages(), c.messages);
    if (c.state != State::kCancelled) ExpectBoxes("ddd-");  // margin was not chosen
    // Only a cancel's message sends the user back to the summary.
    const bool cancelled = c.state == State::kCancelled;
    EXPECT_EQ(Usable(*wizard_), cancelled ? "back next " : "next ");
    if (cancelled) {
      Back();
      EXPECT_EQ(wizard_->currentId(), CCustomWizard::kMessagePage);
      Next();  // the summary is the commit page again
      EXPECT_EQ(wizard_->currentId(), CCustomWizard::kWorkerPage);
      EXPECT_EQ(Usable(*wizard_), "");
      Cancel();
    }
    Cancel();
    EXPECT_FALSE(wizard_->isVisible());
    held_ = false;
  }
}

}  // namespace
