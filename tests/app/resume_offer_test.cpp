// The wizard shown a folder that holds the position of an interrupted run.

#include <QString>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "setup/resume_file.h"
#include "setup/setup_run.h"
#include "tests/app/app_test_support.h"
#include "tests/common/scripted_market.h"

namespace {

// A market that lists nothing: the folders hold the 14 built-in issues.
std::unique_ptr<ScriptedMarket> EmptyMarket() {
  auto market = std::make_unique<ScriptedMarket>();
  market->batch = 10000;
  return market;
}

class ResumeOfferTest : public WizardFixture {
 protected:
  ResumeOfferTest() {
    SetQuestionBoxHandler([this](QWidget*, const QString& text, const QString&) {
      questions_.push_back(text);
      return answer_;
    });
    position_.stage = 3;
    position_.resumeIndex = 7;
    position_.choices.splits = true;
    position_.choices.margin = true;  // the table page leaves it out
    position_.firstDate = CDate(2021, 1, 1);
    position_.reading.date = CDate(2024, 3, 15);
  }
  ~ResumeOfferTest() override { SetQuestionBoxHandler(nullptr); }

  // A folder that an interrupted run left: its database, and the position
  // of the issue list it holds.
  void Interrupted() {
    CRunChoices choices;
    choices.databaseFolder = folder_;
    CSetupRun run(&choices, EmptyMarket());
    run.SetListPagePause(0);
    run.SetPeriod(CDate(2024, 1, 1), CLocalTime{CDate(2024, 3, 15), 16, 0});
    WorkerProgress progress;
    progress.ResetForFreshRun();
    run.Run(progress);
    ASSERT_EQ(kStageFinished, progress.stage);
    position_.issueCount = static_cast<std::int32_t>(run.IssueList().size());
    position_.issueHash = HashIssueList(run.IssueList());
    ASSERT_TRUE(WriteResumeFile(ResumeFilePath(folder_), position_));
  }

  // From the start page through the summary into a finished run.
  void RunThroughTheWizard() {
    Make({folder_}, [this](const CRunOptions* options) {
      auto market = EmptyMarket();
      market_ = market.get();
      auto run = std::make_unique<CSetupRun>(options, std::move(market));
      run->SetListPagePause(0);
      return run;
    });
    market_->observed = &wizard_->WorkerPage()->Progress();
    while (wizard_->currentId() != CCustomWizard::kWorkerPage) Next();
    TickUntilEnded();
    // Where each stage began: the record's place at the stage's first
    // question to the market.
    starts_.clear();
    for (const std::string& at : market_->trail) {
      if (at[0] != '0' && (starts_.empty() || starts_.back()[0] != at[0])) starts_.push_back(at);
    }
  }

  std::string folder_ = temp_.Sub("db");
  CResumePosition position_;
  bool answer_ = true;
  std::vector<QString> questions_;
  std::vector<std::string> starts_;
  ScriptedMarket* market_ = nullptr;  // owned by the wizard's run
};

// A readable file is offered once: "はい" continues at its stage and issue
// with its choices and period, "いいえ" starts afresh; an unreadable one is
// not offered. The run removes the file in each case when it succeeds.
TEST_F(ResumeOfferTest, YesContinuesWithTheFilesChoicesOthersStartAfresh) {
  const std::vector<std::string> fresh = {"1:0", "2:0", "3:0"};  // margin left out
  struct Case {
    bool readable;
    bool answer;
    std::vector<std::string> starts;
  };
  for (const Case& c : {Case{true, true, {"3:7", "4:0"}}, Case{true, false, fresh},
                        Case{false, true, fresh}}) {
    answer_ = c.answer;
    questions_.clear();
    starts_.clear();
    Interrupted();
    if (!c.readable) std::filesystem::resize_file(ResumeFilePath(folder_), 40);
    RunThroughTheWizard();
    const bool continued = c.readable && c.answer;
    ASSERT_EQ(c.readable ? 1u : 0u, questions_.size());
    if (c.readable) {
      EXPECT_EQ(QStringLiteral("前回中断したセットアップを続行しますか?"), questions_[0]);
    }
    EXPECT_EQ(c.starts, starts_) << c.readable << c.answer;
    EXPECT_EQ(continued, wizard_->FirstDate() == position_.firstDate);
    EXPECT_EQ(continued, wizard_->Today() == position_.reading.date);
    EXPECT_FALSE(std::filesystem::exists(ResumeFilePath(folder_)));
  }
}

}  // namespace
