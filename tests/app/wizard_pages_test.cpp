#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTreeWidget>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "app/choice_pages.h"
#include "app/folder_pages.h"
#include "app/setup_run_factory.h"
#include "app/summary.h"
#include "app/text_pages.h"
#include "support/cp932.h"
#include "tests/app/app_test_support.h"

namespace {

using Id = CCustomWizard::PageId;

class WizardTest : public WizardFixture {
 protected:
  QString DbFolder() const { return QFile::decodeName(temp_.Sub("db").c_str()); }

  // From the start page to the summary, with a new folder and "はい".
  void GoToSummary() {
    Next();
    if (wizard_->FolderPage() != nullptr) {
      wizard_->FolderPage()->Edit()->setText(DbFolder());
      Next();
      Find<QRadioButton>("1014")->click();
      Next();
    }
    for (int i = 0; i < 4; ++i) Next();
    ASSERT_EQ(wizard_->currentId(), Id::kMessagePage);
  }

  QString SummaryShown() const {
    return wizard_->MessagePage()->findChild<QPlainTextEdit*>("1007")->toPlainText();
  }
};

TEST_F(WizardTest, FrameCarriesTitleAndWatermarkAndOpensCentred) {
  Make({});
  EXPECT_EQ(wizard_->windowTitle(), QStringLiteral("データベースセットアップウィザード"));
  EXPECT_EQ(wizard_->pixmap(QWizard::WatermarkPixmap).size(), QSize(165, 305));
  const QRect area = wizard_->screen()->availableGeometry();
  EXPECT_LE((wizard_->frameGeometry().center() - area.center()).manhattanLength(), 1);
  // Without titles no page has a header area.
  for (int id : wizard_->pageIds()) EXPECT_TRUE(wizard_->page(id)->title().isEmpty());
}

TEST_F(WizardTest, PageFlowAndButtonsWithoutFolderOnCommandLine) {
  Make({});
  EXPECT_EQ(wizard_->GapTolerance(), 20);
  auto expect = [&](Id page, const std::string& buttons) {
    EXPECT_EQ(wizard_->currentId(), page);
    EXPECT_EQ(Usable(*wizard_), buttons) << "page " << page;
  };
  expect(Id::kStartPage, "next ");
  Next();
  expect(Id::kFolderPage, "back ");
  wizard_->FolderPage()->Edit()->setText("relative");
  expect(Id::kFolderPage, "back ");
  wizard_->FolderPage()->Edit()->setText(DbFolder());
  expect(Id::kFolderPage, "back next ");
  Next();
  expect(Id::kYesNoPage, "back ");
  Find<QRadioButton>("1014")->click();
  expect(Id::kYesNoPage, "back next ");
  for (Id page : {Id::kCategoryPage, Id::kPeriodPage, Id::kTablePage,
                  Id::kArchivePage, Id::kMessagePage}) {
    Next();
    expect(page, "back next ");
  }
}

TEST_F(WizardTest, NoKeepsNextDisabledAndTheQuestionFollowsTheFolder) {
  Make({});
  const QString fresh = DbFolder();
  const QString made = QFile::decodeName(temp_.path().c_str());
  Next();
  wizard_->FolderPage()->Edit()->setText(fresh);
  Next();
  EXPECT_EQ(Find<QLabel>("1008")->text(),
            "指定されたフォルダ\n\n  " + fresh + "\n\nは存在しません。作成してよろしいですか？");
  EXPECT_TRUE(Find<QRadioButton>("1015")->isChecked());
  Find<QRadioButton>("1014")->click();
  Find<QRadioButton>("1015")->click();
  Next();  // disabled: nothing happens
  EXPECT_EQ(wizard_->currentId(), Id::kYesNoPage);

  Back();
  wizard_->FolderPage()->Edit()->setText(made);
  Next();
  EXPECT_EQ(Find<QLabel>("1008")->text(),
            "指定されたフォルダ\n\n  " + made +
                "\n\nは既に存在します。既存のデータがあれば上書きされますがよろしいですか？");
}

TEST(FolderTest, AcceptsAbsolutePathsThatAreNotFiles) {
  TempDir temp;
  const QString base = QFile::decodeName(temp.path().c_str());
  std::ofstream(temp.Sub("file.txt")) << "x";
  const std::pair<QString, bool> cases[] = {
      {"", false},           {" \t\r\n", false},      {"relative/db", false},
      {"~/db", false},       {"/", true},             {base, true},
      {base + "/", true},    {base + "/new", true},   {" \t" + base + "/new\r\n", true},
      {base + "/file.txt", false}, {"/dev/null", false},
  };
  for (const auto& [text, passes] : cases) {
    EXPECT_EQ(PassesFolderTest(text), passes) << text.toStdString();
  }
  EXPECT_EQ(TrimFolderText(" \t/a b/ \r\n"), QStringLiteral("/a b/"));
}

TEST(SummaryTest, NothingAndEverythingChecked) {
  CSummaryChoices nothing;
  nothing.folder = "/srv/db";
  nothing.firstYear = 2000;
  EXPECT_EQ(BuildSummary(nothing),
            "[DBフォルダ]\r\n  /srv/db\r\n\r\n[ダウンロードする銘柄種類]\r\n\r\n"
            "[時系列データをダウンロードする期間]\r\n  2000年～\r\n\r\n"
            "[追加でダウンロードする情報]\r\n\r\n[Webアーカイブ]\r\n  利用しない\r\n\r\n");
  CSummaryChoices all{"/srv/db", true, true, true, true, true, true, 2010, true, true, true};
  EXPECT_EQ(BuildSummary(all),
            "[DBフォルダ]\r\n  /srv/db\r\n\r\n[ダウンロードする銘柄種類]\r\n  ETF\r\n"
            "  REIT\r\n  東証プライム\r\n  東証スタンダード\r\n  東証グロース\r\n"
            "  その他の市場\r\n\r\n[時系列データをダウンロードする期間]\r\n  2010年～\r\n\r\n"
            "[追加でダウンロードする情報]\r\n  株式分割データ\r\n  信用残データ\r\n\r\n"
            "[Webアーカイブ]\r\n  優先的に利用する\r\n\r\n");
}

TEST_F(WizardTest, SummaryFollowsThePagesEachTimeItIsShown) {
  Make({});
  GoToSummary();
  EXPECT_EQ(Find<QLabel>("1008")->text(), SummaryHeading());
  EXPECT_EQ(SummaryShown(),
            "[DBフォルダ]\n  " + DbFolder() +
                "\n\n[ダウンロードする銘柄種類]\n  東証プライム\n\n"
                "[時系列データをダウンロードする期間]\n  2010年～\n\n"
                "[追加でダウンロードする情報]\n  株式分割データ\n\n"
                "[Webアーカイブ]\n  優先的に利用する\n\n");
  EXPECT_EQ(wizard_->FirstDate().ToNumber(), 20100101u);
  EXPECT_EQ(wizard_->Today().ToNumber(), CDate::Today().ToNumber());

  // Back to the period and table pages: another year, margin checked.
  for (int i = 0; i < 3; ++i) Back();
  Find<QComboBox>("1002")->setCurrentIndex(5);
  Next();
  Find<QCheckBox>("1004")->setChecked(true);
  Next();
  Find<QCheckBox>("1015")->setChecked(false);
  Next();
  EXPECT_TRUE(SummaryShown().contains("期間]\n  2005年～\n"));
  EXPECT_TRUE(SummaryShown().contains("情報]\n  株式分割データ\n  信用残データ\n\n"));
  EXPECT_TRUE(SummaryShown().endsWith("[Webアーカイブ]\n  利用しない\n\n"));
  EXPECT_EQ(wizard_->FirstDate().ToNumber(), 20050101u);
  EXPECT_TRUE(wizard_->MarginChosen());
  EXPECT_FALSE(wizard_->UseArchive());
}

TEST_F(WizardTest, FolderOnCommandLineAndTheTreeAsTheRunReadsIt) {
  const std::string folder = temp_.Sub("given");
  Make({folder, "30"}, MakeSetupRun);
  EXPECT_EQ(wizard_->FolderPage(), nullptr);
  EXPECT_EQ(wizard_->GapTolerance(), 30);
  CCategoryPage* page = wizard_->CategoryPage();
  QTreeWidget* tree = page->Tree();
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("分類"));
  EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("株式"));
  const CRunOptions::MarketItem items[] = {
      CRunOptions::kEtf,      CRunOptions::kReit,   CRunOptions::kPrime,
      CRunOptions::kStandard, CRunOptions::kGrowth, CRunOptions::kOtherMarkets};
  const char* const names[] = {"ETF", "REIT", "東証プライム", "東証スタンダード",
                               "東証グロース", "その他市場"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(page->Item(items[i])->text(0), QString::fromUtf8(names[i]));
    EXPECT_EQ(page->IsChecked(items[i]), items[i] == CRunOptions::kPrime);
  }
  tree->topLevelItem(1)->setCheckState(0, Qt::Checked);  // reaches no child
  page->Item(CRunOptions::kPrime)->setCheckState(0, Qt::Unchecked);
  page->Item(CRunOptions::kReit)->setCheckState(0, Qt::Checked);
  page->Item(CRunOptions::kGrowth)->setCheckState(0, Qt::PartiallyChecked);
  GoToSummary();
  for (auto item : items) {
    EXPECT_EQ(wizard_->IsMarketChecked(item),
              item == CRunOptions::kReit || item == CRunOptions::kGrowth) << item;
  }
  EXPECT_EQ(wizard_->visitedIds(), QList<int>({Id::kStartPage, Id::kCategoryPage,
                                               Id::kPeriodPage, Id::kTablePage,
                                               Id::kArchivePage, Id::kMessagePage}));
  EXPECT_EQ(wizard_->DatabaseFolder(), folder);
  EXPECT_TRUE(SummaryShown().startsWith("[DBフォルダ]\n  " +
                                        QFile::decodeName(folder.c_str()) + "\n"));
  EXPECT_TRUE(SummaryShown().contains("種類]\n  REIT\n  東証グロース\n\n"));
  EXPECT_EQ(wizard_->SetupRun()->BuildIncludeMarkets(),
            Cp932FromUtf8("東証;東証グロース"));
}

TEST(PeriodPageTest, ListsYearsFrom2000And2010First) {
  CPeriodPage until2018(2018);
  QComboBox* combo = until2018.Combo();
  ASSERT_EQ(combo->count(), 19);
  EXPECT_EQ(combo->itemText(0), QStringLiteral("2000年～"));
  EXPECT_EQ(combo->itemText(18), QStringLiteral("2018年～"));
  EXPECT_EQ(until2018.Year(), 2010);
  combo->setCurrentIndex(0);
  EXPECT_EQ(until2018.Year(), 2000);
  CPeriodPage now;
  EXPECT_EQ(now.Combo()->count(), QDate::currentDate().year() - 1999);
}

TEST_F(WizardTest, CancelOnAnOptionPageCloses) {
  Make({"/srv/db"});
  Next();
  Cancel();
  EXPECT_FALSE(wizard_->isVisible());
  EXPECT_EQ(wizard_->result(), QDialog::Rejected);
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
