// The wizard shown a folder that holds the position of an interrupted run.

#include <QString>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "setup/resume_file.h"
#include "tests/app/app_test_support.h"

namespace {

// A run whose stages only record where they start: "stage:first index".
class RecordingRun : public CSetupRun {
 public:
  RecordingRun(const CRunOptions* options, std::vector<std::string>* starts)
      : CSetupRun(options), starts_(starts) {}

 protected:
  bool InitDatabase(WorkerProgress&) override { return true; }
  bool DownloadIssues(WorkerProgress& p) override { return Stage(p, 1); }
  bool DownloadSplits(WorkerProgress& p) override { return Stage(p, 2); }
  bool DownloadPrices(WorkerProgress& p) override { return Stage(p, 3); }
  bool DownloadMargins(WorkerProgress& p) override { return Stage(p, 4); }
  bool LoadIssueList(WorkerProgress&) override { return true; }
  void SetArchivePreference(bool) override {}

 private:
  bool Stage(WorkerProgress& progress, int stage) {
    starts_->push_back(std::to_string(stage) + ":" +
                       std::to_string(BeginStage(progress)));
    SavePosition(progress, stage, 0);
    return true;
  }
  std::vector<std::string>* starts_;
};

class ResumeOfferTest : public WizardFixture {
 protected:
  ResumeOfferTest() {
    SetQuestionBoxHandler([this](QWidget*, const QString& text, const QString&) {
      questions_.push_back(text);
      return answer_;
    });
    std::filesystem::create_directory(folder_);
    position_.stage = 3;
    position_.resumeIndex = 7;
    position_.choices.splits = true;
    position_.choices.margin = true;  // the table page leaves it out
    position_.firstDate = CDate(2021, 1, 1);
    position_.reading.date = CDate(2024, 3, 15);
  }
  ~ResumeOfferTest() override { SetQuestionBoxHandler(nullptr); }

  // From the start page through the summary into a finished run.
  void RunThroughTheWizard() {
    Make({folder_}, [this](const CRunOptions* options) {
      return std::make_unique<RecordingRun>(options, &starts_);
    });
    while (wizard_->currentId() != CCustomWizard::kWorkerPage) Next();
    TickUntilEnded();
  }

  std::string folder_ = temp_.Sub("db");
  CResumePosition position_;
  bool answer_ = true;
  std::vector<QString> questions_;
  std::vector<std::string> starts_;
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
    ASSERT_TRUE(WriteResumeFile(ResumeFilePath(folder_), position_));
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
