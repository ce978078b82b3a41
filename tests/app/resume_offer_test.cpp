// The wizard shown a folder that holds the position of an interrupted run.

#include <QString>

#include <filesystem>
#include <fstream>
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
                       std::to_string(TakeFirstIndex(progress)));
    EnterIssue(progress, stage, 0);
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
    position_.today = CDate(2024, 3, 15);
    EXPECT_TRUE(WriteResumeFile(ResumeFilePath(folder_), position_));
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

TEST_F(ResumeOfferTest, YesContinuesWithTheFilesChoicesNoStartsAfresh) {
  struct Case {
    bool answer;
    std::vector<std::string> starts;
  };
  for (const Case& c : {Case{true, {"3:7", "4:0"}}, Case{false, {"1:0", "2:0", "3:0"}}}) {
    answer_ = c.answer;
    questions_.clear();
    starts_.clear();
    ASSERT_TRUE(WriteResumeFile(ResumeFilePath(folder_), position_));
    RunThroughTheWizard();
    ASSERT_EQ(1u, questions_.size());
    EXPECT_EQ(QStringLiteral("前回中断したセットアップを続行しますか?"), questions_[0]);
    EXPECT_EQ(c.starts, starts_) << "answer " << c.answer;
    EXPECT_EQ(c.answer, wizard_->FirstDate() == position_.firstDate);
    EXPECT_EQ(c.answer, wizard_->Today() == position_.today);
    EXPECT_FALSE(std::filesystem::exists(ResumeFilePath(folder_)));
  }
}

TEST_F(ResumeOfferTest, AnUnreadableFileIsNotContinued) {
  std::ofstream(ResumeFilePath(folder_), std::ios::trunc) << "[TickoraSetupResume]\nversion=1\n";
  RunThroughTheWizard();
  EXPECT_TRUE(questions_.empty());
  EXPECT_EQ(std::vector<std::string>({"1:0", "2:0", "3:0"}), starts_);
}

}  // namespace
