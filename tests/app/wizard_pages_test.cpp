#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/choice_pages.h"
#include "app/custom_wizard.h"
#include "app/folder_pages.h"
#include "app/summary.h"
#include "app/text_pages.h"
#include "support/cp932.h"
#include "tests/app/app_test_support.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"

namespace {

using Id = CCustomWizard::PageId;

// A run whose stages do nothing but move the stage number; it keeps what
// the run driver handed it.
class StubStagesRun : public CSetupRun {
 public:
  using CSetupRun::CSetupRun;
  bool archivePreference = false;
  std::string markets;

 protected:
  bool DownloadIssues(WorkerProgress& p) override { return Mark(p, 1); }
  bool DownloadSplits(WorkerProgress& p) override { return Mark(p, 2); }
  bool DownloadPrices(WorkerProgress& p) override { return Mark(p, 3); }
  bool DownloadMargins(WorkerProgress& p) override { return Mark(p, 4); }
  bool LoadIssueList(WorkerProgress&) override { return true; }
  void SetArchivePreference(bool use) override { archivePreference = use; }
  void PostUsageLog(const std::string&) override {}

 private:
  bool Mark(WorkerProgress& p, int stage) {
    p.stage = stage;
    markets = BuildIncludeMarkets();
    return true;
  }
};

class WizardTest : public testing::Test {
 protected:
  WizardTest() : config_("XDG_CONFIG_HOME", temp_.Sub("config").c_str()) {}

  // A wizard whose run has stub stages; `words` as on the command line.
  void Make(const std::vector<std::string>& words) {
    wizard_ = std::make_unique<CCustomWizard>(
        ParseWizardCommandLine(words), [this](const CRunOptions* options) {
          auto run = std::make_unique<StubStagesRun>(options);
          run_ = run.get();
          return run;
        });
    wizard_->show();
  }

  template <typename T>
  T* Find(const char* id) const {
    // Several pages reuse an id: look on the current page first.
    if (T* found = wizard_->currentPage()->findChild<T*>(id)) return found;
    return wizard_->findChild<T*>(id);
  }

  // From the start page to the summary, with a new folder and "はい".
  void GoToSummary() {
    Press(*wizard_, QWizard::NextButton);
    if (wizard_->FolderPage() != nullptr) {
      wizard_->FolderPage()->Edit()->setText(
          QFile::decodeName(temp_.Sub("db").c_str()));
      Press(*wizard_, QWizard::NextButton);
      Find<QRadioButton>("1014")->click();
      Press(*wizard_, QWizard::NextButton);
    }
    for (int i = 0; i < 4; ++i) Press(*wizard_, QWizard::NextButton);
    ASSERT_EQ(wizard_->currentId(), Id::kMessagePage);
  }

  QString SummaryShown() const {
    return wizard_->MessagePage()->findChild<QPlainTextEdit*>("1007")->toPlainText();
  }

  TempDir temp_;
  ScopedEnv config_;
  MessageRecorder messages_;
  StubStagesRun* run_ = nullptr;
  std::unique_ptr<CCustomWizard> wizard_;
};

TEST_F(WizardTest, FrameCarriesTitleButtonsAndWatermark) {
  Make({});
  EXPECT_EQ(wizard_->windowTitle(), QStringLiteral("データベースセットアップウィザード"));
  EXPECT_EQ(wizard_->wizardStyle(), QWizard::ModernStyle);
  const QPixmap watermark = wizard_->pixmap(QWizard::WatermarkPixmap);
  EXPECT_EQ(watermark.size(), QSize(165, 305));
  EXPECT_EQ(wizard_->buttonText(QWizard::BackButton), QStringLiteral("< 戻る(&B)"));
  EXPECT_EQ(wizard_->buttonText(QWizard::NextButton), QStringLiteral("次へ(&N) >"));
  EXPECT_EQ(wizard_->buttonText(QWizard::CommitButton), QStringLiteral("次へ(&N) >"));
  EXPECT_EQ(wizard_->buttonText(QWizard::FinishButton), QStringLiteral("完了"));
  EXPECT_EQ(wizard_->buttonText(QWizard::CancelButton), QStringLiteral("キャンセル"));
  // No page has a title or subtitle, so no header area is drawn.
  for (int id : wizard_->pageIds()) {
    EXPECT_TRUE(wizard_->page(id)->title().isEmpty());
    EXPECT_TRUE(wizard_->page(id)->subTitle().isEmpty());
  }
}

TEST_F(WizardTest, PageFlowWithoutFolderOnCommandLine) {
  Make({});
  EXPECT_EQ(wizard_->GapTolerance(), 20);
  const std::vector<int> expected = {
      Id::kStartPage, Id::kFolderPage, Id::kYesNoPage,   Id::kCategoryPage,
      Id::kPeriodPage, Id::kTablePage, Id::kArchivePage, Id::kMessagePage,
      Id::kWorkerPage, Id::kEndPage};
  EXPECT_EQ(wizard_->pageIds(), QList<int>(expected.begin(), expected.end()));
  std::vector<int> visited = {wizard_->currentId()};
  GoToSummary();
  visited = {Id::kStartPage};
  for (int id : wizard_->visitedIds()) {
    if (id != Id::kStartPage) visited.push_back(id);
  }
  EXPECT_EQ(visited, std::vector<int>(expected.begin(), expected.end() - 2));

  Press(*wizard_, QWizard::NextButton);
  EXPECT_EQ(wizard_->currentId(), Id::kWorkerPage);
  ASSERT_TRUE(WaitUntil([&] {
    wizard_->WorkerPage()->Refresh();
    return wizard_->WorkerPage()->state() != CWorkerPage::State::kRunning;
  }));
  EXPECT_EQ(wizard_->WorkerPage()->state(), CWorkerPage::State::kFinished);
  Press(*wizard_, QWizard::NextButton);
  EXPECT_EQ(wizard_->currentId(), Id::kEndPage);
}

TEST_F(WizardTest, FolderOnCommandLineSkipsFolderPages) {
  const std::string folder = temp_.Sub("given");
  Make({folder, "30"});
  EXPECT_EQ(wizard_->FolderPage(), nullptr);
  EXPECT_EQ(wizard_->YesNoPage(), nullptr);
  EXPECT_EQ(wizard_->GapTolerance(), 30);
  Press(*wizard_, QWizard::NextButton);
  EXPECT_EQ(wizard_->currentId(), Id::kCategoryPage);
  Press(*wizard_, QWizard::BackButton);
  GoToSummary();
  EXPECT_EQ(wizard_->DatabaseFolder(), folder);
  EXPECT_TRUE(SummaryShown().startsWith(
      QStringLiteral("[DBフォルダ]\n  ") + QFile::decodeName(folder.c_str()) + "\n"));
}

TEST_F(WizardTest, EachPageEnablesItsButtons) {
  Make({});
  auto expect = [&](Buttons want, const char* where) {
    const Buttons got = ButtonsOf(*wizard_);
    EXPECT_EQ(got.back, want.back) << where;
    EXPECT_EQ(got.next, want.next) << where;
    EXPECT_EQ(got.finish, want.finish) << where;
  };
  expect({false, true, false}, "start");
  Press(*wizard_, QWizard::NextButton);
  expect({true, false, false}, "folder, empty");
  wizard_->FolderPage()->Edit()->setText("relative");
  expect({true, false, false}, "folder, relative");
  wizard_->FolderPage()->Edit()->setText(QFile::decodeName(temp_.Sub("db").c_str()));
  expect({true, true, false}, "folder, usable");
  Press(*wizard_, QWizard::NextButton);
  expect({true, false, false}, "yes/no, いいえ");
  Find<QRadioButton>("1014")->click();
  expect({true, true, false}, "yes/no, はい");
  const char* const options[] = {"category", "period", "table", "archive", "summary"};
  for (const char* page : options) {
    Press(*wizard_, QWizard::NextButton);
    expect({true, true, false}, page);
  }
}

TEST_F(WizardTest, NoKeepsNextDisabled) {
  Make({});
  Press(*wizard_, QWizard::NextButton);
  wizard_->FolderPage()->Edit()->setText(QFile::decodeName(temp_.Sub("db").c_str()));
  Press(*wizard_, QWizard::NextButton);
  ASSERT_EQ(wizard_->currentId(), Id::kYesNoPage);
  EXPECT_TRUE(Find<QRadioButton>("1015")->isChecked());
  Find<QRadioButton>("1014")->click();
  Find<QRadioButton>("1015")->click();
  EXPECT_FALSE(ButtonsOf(*wizard_).next);
  Press(*wizard_, QWizard::NextButton);  // disabled: nothing happens
  EXPECT_EQ(wizard_->currentId(), Id::kYesNoPage);
  Press(*wizard_, QWizard::BackButton);
  EXPECT_EQ(wizard_->currentId(), Id::kFolderPage);
}

TEST_F(WizardTest, YesNoPageAsksAboutTheFolder) {
  const QString made = QFile::decodeName(temp_.path().c_str());
  const QString fresh = made + "/new";
  EXPECT_EQ(FolderQuestion(made),
            QStringLiteral("指定されたフォルダ\n\n  ") + made +
                QStringLiteral("\n\nは既に存在します。既存のデータがあれば上書きされますがよろしいですか？"));
  EXPECT_EQ(FolderQuestion(fresh),
            QStringLiteral("指定されたフォルダ\n\n  ") + fresh +
                QStringLiteral("\n\nは存在しません。作成してよろしいですか？"));

  // The page asks anew on each entry: the folder changed in between.
  Make({});
  Press(*wizard_, QWizard::NextButton);
  wizard_->FolderPage()->Edit()->setText(fresh);
  Press(*wizard_, QWizard::NextButton);
  EXPECT_EQ(Find<QLabel>("1008")->text(), FolderQuestion(fresh));
  Press(*wizard_, QWizard::BackButton);
  wizard_->FolderPage()->Edit()->setText(made);
  Press(*wizard_, QWizard::NextButton);
  EXPECT_EQ(Find<QLabel>("1008")->text(), FolderQuestion(made));
}

TEST(FolderTest, AcceptsAbsolutePathsThatAreNotFiles) {
  TempDir temp;
  const QString base = QFile::decodeName(temp.path().c_str());
  std::ofstream(temp.Sub("file.txt")) << "x";
  const struct {
    QString text;
    bool passes;
  } cases[] = {
      {"", false},
      {" \t\r\n", false},
      {"relative/db", false},
      {"db", false},
      {"~/db", false},
      {"/", true},
      {base, true},
      {base + "/", true},
      {base + "/not-yet", true},
      {" \t" + base + "/not-yet\r\n", true},
      {base + "/file.txt", false},
      {"/dev/null", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PassesFolderTest(c.text), c.passes) << c.text.toStdString();
  }
  EXPECT_EQ(TrimFolderText(" \t/a b/ \r\n"), QStringLiteral("/a b/"));
}

TEST(SummaryTest, BuildsTheSummaryText) {
  CSummaryChoices nothing;
  nothing.folder = "/srv/db";
  nothing.firstYear = 2000;
  EXPECT_EQ(BuildSummary(nothing),
            QStringLiteral("[DBフォルダ]\r\n  /srv/db\r\n\r\n"
                           "[ダウンロードする銘柄種類]\r\n\r\n"
                           "[時系列データをダウンロードする期間]\r\n  2000年～\r\n\r\n"
                           "[追加でダウンロードする情報]\r\n\r\n"
                           "[Webアーカイブ]\r\n  利用しない\r\n\r\n"));

  CSummaryChoices all{"/srv/db", true, true, true, true, true, true, 2010, true, true, true};
  EXPECT_EQ(BuildSummary(all),
            QStringLiteral("[DBフォルダ]\r\n  /srv/db\r\n\r\n"
                           "[ダウンロードする銘柄種類]\r\n  ETF\r\n  REIT\r\n"
                           "  東証プライム\r\n  東証スタンダード\r\n  東証グロース\r\n"
                           "  その他の市場\r\n\r\n"
                           "[時系列データをダウンロードする期間]\r\n  2010年～\r\n\r\n"
                           "[追加でダウンロードする情報]\r\n  株式分割データ\r\n"
                           "  信用残データ\r\n\r\n"
                           "[Webアーカイブ]\r\n  優先的に利用する\r\n\r\n"));

  CSummaryChoices margin_only = nothing;
  margin_only.margin = true;
  EXPECT_TRUE(BuildSummary(margin_only)
                  .contains(QStringLiteral("[追加でダウンロードする情報]\r\n"
                                           "  信用残データ\r\n\r\n")));
}

TEST_F(WizardTest, SummaryFollowsThePagesAndTheRunTakesThem) {
  Make({});
  GoToSummary();
  const QString folder = QFile::decodeName(temp_.Sub("db").c_str());
  EXPECT_EQ(Find<QLabel>("1008")->text(), SummaryHeading());
  EXPECT_EQ(SummaryShown(),
            QStringLiteral("[DBフォルダ]\n  ") + folder +
                QStringLiteral("\n\n[ダウンロードする銘柄種類]\n  東証プライム\n\n"
                               "[時系列データをダウンロードする期間]\n  2010年～\n\n"
                               "[追加でダウンロードする情報]\n  株式分割データ\n\n"
                               "[Webアーカイブ]\n  優先的に利用する\n\n"));
  EXPECT_EQ(wizard_->FirstDate().ToNumber(), 20100101u);
  EXPECT_EQ(wizard_->Today().ToNumber(), CDate::Today().ToNumber());

  // Back to the period and table pages: another year, margin checked.
  Press(*wizard_, QWizard::BackButton);
  Press(*wizard_, QWizard::BackButton);
  Press(*wizard_, QWizard::BackButton);
  ASSERT_EQ(wizard_->currentId(), Id::kPeriodPage);
  Find<QComboBox>("1002")->setCurrentIndex(5);
  Press(*wizard_, QWizard::NextButton);
  Find<QCheckBox>("1004")->setChecked(true);
  Press(*wizard_, QWizard::NextButton);
  Press(*wizard_, QWizard::NextButton);
  EXPECT_TRUE(SummaryShown().contains(QStringLiteral("  2005年～\n")));
  EXPECT_TRUE(SummaryShown().contains(
      QStringLiteral("[追加でダウンロードする情報]\n  株式分割データ\n  信用残データ\n\n")));
  EXPECT_EQ(wizard_->FirstDate().ToNumber(), 20050101u);
  EXPECT_TRUE(wizard_->MarginChosen());

  // The run gets that folder, period and the archive choice.
  Press(*wizard_, QWizard::NextButton);
  ASSERT_TRUE(WaitUntil([&] {
    wizard_->WorkerPage()->Refresh();
    return wizard_->WorkerPage()->state() != CWorkerPage::State::kRunning;
  }));
  EXPECT_EQ(wizard_->WorkerPage()->state(), CWorkerPage::State::kFinished);
  EXPECT_EQ(run_->FirstDate().ToNumber(), 20050101u);
  EXPECT_EQ(run_->GapTolerance(), 20);
  EXPECT_TRUE(run_->archivePreference);
  EXPECT_EQ(run_->DatabaseFilePath(), temp_.Sub("db") + "/stock.mdb");
  EXPECT_TRUE(std::filesystem::exists(temp_.Sub("db") + "/stock.mdb"));
  EXPECT_TRUE(std::filesystem::is_directory(temp_.Sub("db") + "/margin"));
}

TEST_F(WizardTest, TreeReadsAsTheRunExpects) {
  Make({"/srv/db"});
  CCategoryPage* page = wizard_->CategoryPage();
  QTreeWidget* tree = Find<QTreeWidget>("1001");
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("分類"));
  EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("株式"));
  EXPECT_TRUE(tree->topLevelItem(0)->isExpanded());
  const CRunOptions::MarketItem items[] = {
      CRunOptions::kEtf,   CRunOptions::kReit,   CRunOptions::kPrime,
      CRunOptions::kStandard, CRunOptions::kGrowth, CRunOptions::kOtherMarkets};
  const char* const names[] = {"ETF", "REIT", "東証プライム", "東証スタンダード",
                               "東証グロース", "その他市場"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(page->Item(items[i])->text(0), QString::fromUtf8(names[i]));
    EXPECT_EQ(page->IsChecked(items[i]), items[i] == CRunOptions::kPrime);
  }
  // A root's box reaches no child.
  tree->topLevelItem(1)->setCheckState(0, Qt::Checked);
  EXPECT_FALSE(page->IsChecked(CRunOptions::kStandard));

  page->Item(CRunOptions::kPrime)->setCheckState(0, Qt::Unchecked);
  page->Item(CRunOptions::kReit)->setCheckState(0, Qt::Checked);
  page->Item(CRunOptions::kGrowth)->setCheckState(0, Qt::PartiallyChecked);
  GoToSummary();
  for (auto item : items) {
    EXPECT_EQ(wizard_->IsMarketChecked(item),
              item == CRunOptions::kReit || item == CRunOptions::kGrowth)
        << item;
  }
  EXPECT_TRUE(SummaryShown().contains(
      QStringLiteral("[ダウンロードする銘柄種類]\n  REIT\n  東証グロース\n\n")));
  // Through the run driver: ETF or REIT gives "東証", then the segments.
  EXPECT_EQ(wizard_->SetupRun()->BuildIncludeMarkets(),
            Cp932FromUtf8("東証;東証グロース"));
}

TEST(PeriodPageTest, ListsYearsFrom2000And2010First) {
  CPeriodPage until2018(2018);
  QComboBox* combo = until2018.Combo();
  ASSERT_EQ(combo->count(), 19);
  EXPECT_EQ(combo->itemText(0), QStringLiteral("2000年～"));
  EXPECT_EQ(combo->itemText(18), QStringLiteral("2018年～"));
  EXPECT_EQ(combo->currentText(), QStringLiteral("2010年～"));
  EXPECT_EQ(until2018.Year(), 2010);
  combo->setCurrentIndex(0);
  EXPECT_EQ(until2018.Year(), 2000);

  CPeriodPage now;
  EXPECT_EQ(now.Combo()->count(), QDate::currentDate().year() - 1999);
  EXPECT_EQ(now.Year(), 2010);
}

TEST_F(WizardTest, CancelOnAnOptionPageCloses) {
  Make({"/srv/db"});
  Press(*wizard_, QWizard::NextButton);
  Press(*wizard_, QWizard::CancelButton);
  EXPECT_FALSE(wizard_->isVisible());
  EXPECT_EQ(wizard_->result(), QDialog::Rejected);
  EXPECT_TRUE(messages_.boxes.empty());
}

}  // namespace
