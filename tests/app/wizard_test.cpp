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

#include <filesystem>
#include <fstream>
#include <tuple>

#include "app/choice_pages.h"
#include "app/folder_pages.h"
#include "app/setup_run_factory.h"
#include "app/summary.h"
#include "app/text_pages.h"
#include "setup/resume_file.h"
#include "setup/setup_run.h"
#include "support/cp932.h"
#include "tests/app/app_test_support.h"
#include "tests/common/scripted_market.h"

namespace {

using Id = CCustomWizard::PageId;

TEST(WizardCommandLineTest, FolderAndGapToleranceReadLikeAtoi) {
  const std::tuple<std::vector<std::string>, std::string, std::int32_t> cases[] = {
      {{}, "", 20}, {{"/data/stock"}, "/data/stock", 20},
      {{"/data/My Data", "Data"}, "/data/My Data", 0}, {{"/d", "12", "ignored"}, "/d", 12}};
  for (const auto& [words, folder, gap] : cases) {
    const CWizardCommandLine line = ParseWizardCommandLine(words);
    EXPECT_EQ(line.folderOverride, folder);
    EXPECT_EQ(line.gapTolerance, gap) << words.size();
  }
  const std::pair<std::string, std::int32_t> numbers[] = {
      {"", 0},          {"abc", 0},       {"-", 0},          {"- 5", 0},
      {"+12", 12},      {"-7x", -7},      {" \t 42 ", 42},   {"0030", 30},
      {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"99999999999999999999", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"-99999999999", INT32_MIN},
  };
  for (const auto& [word, expected] : numbers) {
    EXPECT_EQ(ReadSignedDecimal(word), expected) << "'" << word << "'";
  }
  // The program's own arguments keep their bytes: a folder named in CP932
  // (not valid UTF-8) is the folder, not a text decoded and encoded again.
  const char* argv[] = {"tickora-setup", "/srv/\x83\x66\x81\x5b\x83\x5e", "30"};
  const CWizardCommandLine given = ParseWizardCommandLine(3, argv);
  EXPECT_EQ(given.folderOverride, "/srv/\x83\x66\x81\x5b\x83\x5e");
  EXPECT_EQ(given.gapTolerance, 30);
  EXPECT_EQ(ParseWizardCommandLine(1, argv).folderOverride, "");
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

class WizardTest : public WizardFixture {
 protected:
  QString DbFolder() const { return QFile::decodeName(temp_.Sub("db").c_str()); }
  QString Question(const QString& folder, const char* rest) const {
    return "指定されたフォルダ\n\n  " + folder + "\n\nは" + QString::fromUtf8(rest);
  }

  QString SummaryShown() const {
    return wizard_->MessagePage()->findChild<QPlainTextEdit*>("1007")->toPlainText();
  }
};

// The whole wizard without a folder on the command line, up to a real run
// against a small simulated market on 127.0.0.1: the buttons each page
// allows, the summary each time it is shown, a folder another run holds,
// then a run of every kind of issue, splits, margin balances and the
// archive from last year on. The files a run writes are checked by the
// command-line runs.
TEST_F(WizardTest, EveryPageThenARealRunAgainstTheSimulatedMarket) {
  const CDate today = CDate::Today();
  const CSimMarket market(
      {.seed = 5, .issueCount = 12, .firstYear = today.year - 1, .today = today});
  Serve(market);
  Make({}, MakeSetupRun);
  EXPECT_EQ(wizard_->windowTitle(), QStringLiteral("データベースセットアップウィザード"));
  EXPECT_EQ(wizard_->pixmap(QWizard::WatermarkPixmap).size(), QSize(165, 305));
  const QRect area = wizard_->screen()->availableGeometry();
  EXPECT_LE((wizard_->frameGeometry().center() - area.center()).manhattanLength(), 1);
  // Without titles no page has a header area; each page carries the
  // wizard's caption as its own.
  for (int id : wizard_->pageIds()) {
    EXPECT_TRUE(wizard_->page(id)->title().isEmpty());
    EXPECT_EQ(wizard_->page(id)->windowTitle(), wizard_->windowTitle()) << id;
  }
  auto expect = [&](Id page, const std::string& buttons) {
    EXPECT_EQ(wizard_->currentId(), page);
    EXPECT_EQ(Usable(*wizard_), buttons) << "page " << page;
  };
  expect(Id::kStartPage, "next ");
  Next();
  expect(Id::kFolderPage, "back ");
  wizard_->FolderPage()->Edit()->setText("relative");
  expect(Id::kFolderPage, "back ");
  const QString made = QFile::decodeName(temp_.path().c_str());
  wizard_->FolderPage()->Edit()->setText(made);
  expect(Id::kFolderPage, "back next ");
  Next();
  EXPECT_EQ(Find<QLabel>("1008")->text(),
            Question(made, "既に存在します。既存のデータがあれば上書きされますがよろしいですか？"));
  Back();  // the question follows the folder
  wizard_->FolderPage()->Edit()->setText(DbFolder());
  Next();
  EXPECT_EQ(Find<QLabel>("1008")->text(),
            Question(DbFolder(), "存在しません。作成してよろしいですか？"));
  EXPECT_TRUE(Find<QRadioButton>("1015")->isChecked());
  expect(Id::kYesNoPage, "back ");
  Find<QRadioButton>("1014")->click();
  expect(Id::kYesNoPage, "back next ");
  Find<QRadioButton>("1015")->click();
  expect(Id::kYesNoPage, "back ");
  Find<QRadioButton>("1014")->click();
  for (Id page : {Id::kCategoryPage, Id::kPeriodPage, Id::kTablePage,
                  Id::kArchivePage, Id::kMessagePage}) {
    Next();
    expect(page, "back next ");
  }
  // The first summary shows the defaults: from 2010 on, the archive used.
  EXPECT_EQ(Find<QLabel>("1008")->text(), SummaryHeading());
  EXPECT_EQ(wizard_->FirstDate().ToNumber(), 20100101u);
  EXPECT_TRUE(wizard_->UseArchive());

  // Back to every choice: no kind of issue, another year, margin balances
  // only, no archive. The years run from 2000 to this one.
  for (int i = 0; i < 4; ++i) Back();
  // The tree as built: two groups, prime alone checked. Checking a group
  // reaches none of its items.
  CCategoryPage* category = wizard_->CategoryPage();
  QTreeWidget* tree = category->Tree();
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("分類"));
  EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("株式"));
  const std::pair<CRunOptions::MarketItem, const char*> items[] = {
      {CRunOptions::kEtf, "ETF"},           {CRunOptions::kReit, "REIT"},
      {CRunOptions::kPrime, "東証プライム"},  {CRunOptions::kStandard, "東証スタンダード"},
      {CRunOptions::kGrowth, "東証グロース"}, {CRunOptions::kOtherMarkets, "その他市場"}};
  for (const auto& [item, name] : items) {
    EXPECT_EQ(category->Item(item)->text(0), QString::fromUtf8(name));
    EXPECT_EQ(category->IsChecked(item), item == CRunOptions::kPrime);
  }
  tree->topLevelItem(1)->setCheckState(0, Qt::Checked);
  category->Item(CRunOptions::kPrime)->setCheckState(0, Qt::Unchecked);
  Next();
  QComboBox* years = Find<QComboBox>("1002");
  ASSERT_EQ(years->count(), QDate::currentDate().year() - 1999);
  EXPECT_EQ(years->itemText(years->count() - 1),
            QString::number(QDate::currentDate().year()) + "年～");
  years->setCurrentIndex(5);
  Next();
  Find<QCheckBox>("1003")->setChecked(false);
  Find<QCheckBox>("1004")->setChecked(true);
  Next();
  Find<QCheckBox>("1015")->setChecked(false);
  Next();
  EXPECT_EQ(SummaryShown(),
            "[DBフォルダ]\n  " + DbFolder() +
                "\n\n[ダウンロードする銘柄種類]\n\n[時系列データをダウンロードする期間]\n  2005年～\n\n"
                "[追加でダウンロードする情報]\n  信用残データ\n\n[Webアーカイブ]\n  利用しない\n\n");
  EXPECT_EQ(wizard_->FirstDate().ToNumber(), 20050101u);
  EXPECT_TRUE(wizard_->MarginChosen());
  EXPECT_FALSE(wizard_->UseArchive());

  // The run's choices, set on the pages behind the summary, which follows
  // them once shown again.
  // A partly checked item counts as checked.
  for (const auto& [item, name] : items) {
    category->Item(item)->setCheckState(
        0, item == CRunOptions::kGrowth ? Qt::PartiallyChecked : Qt::Checked);
  }
  years->setCurrentIndex(years->count() - 2);
  wizard_->TablePage()->findChild<QCheckBox*>("1003")->setChecked(true);
  wizard_->ArchivePage()->findChild<QCheckBox*>("1015")->setChecked(true);
  Back();
  Next();
  EXPECT_EQ(SummaryShown(),
            "[DBフォルダ]\n  " + DbFolder() +
                "\n\n[ダウンロードする銘柄種類]\n  ETF\n  REIT\n  東証プライム\n  東証スタンダード\n"
                "  東証グロース\n  その他の市場\n\n[時系列データをダウンロードする期間]\n  " +
                QString::number(QDate::currentDate().year() - 1) +
                "年～\n\n[追加でダウンロードする情報]\n  株式分割データ\n  信用残データ\n\n"
                "[Webアーカイブ]\n  優先的に利用する\n\n");
  EXPECT_EQ(wizard_->SetupRun()->BuildIncludeMarkets(),
            Cp932FromUtf8("東証;東証プライム;東証スタンダード;東証グロース"));

  // Leaving the summary locks the folder (made there when it is new); one
  // that another run holds is refused with a message, and the wizard stays.
  const std::string folder = temp_.Sub("db");
  std::filesystem::create_directory(folder);
  CFolderLock other;
  ASSERT_EQ(other.Lock(folder), CFolderLock::Result::kLocked);
  Next();
  EXPECT_EQ(wizard_->currentId(), Id::kMessagePage);
  EXPECT_EQ(wizard_->WorkerPage()->state(), CWorkerPage::State::kIdle);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_TRUE(boxes_[0].text.startsWith(QStringLiteral("このフォルダでは別のセットアップが実行中です。")));
  other.Unlock();
  Next();
  ASSERT_EQ(wizard_->currentId(), Id::kWorkerPage);
  TickUntilEnded(120);
  ASSERT_EQ(boxes_.size(), 2u) << boxes_.back().text.toStdString();
  EXPECT_EQ(boxes_[1].text, QStringLiteral("ダウンロードを完了しました"));
  EXPECT_EQ(server_->LogPosts().size(), 1u);
  // Held by the wizard now, for its run and any resume.
  EXPECT_EQ(other.Lock(folder), CFolderLock::Result::kBusy);
  Next();
  EXPECT_EQ(wizard_->currentId(), Id::kEndPage);
}

// The wizard shown a folder that holds the position of an interrupted run.

class ResumeOfferTest : public WizardTest {
 protected:
  ResumeOfferTest() {
    SetQuestionBoxHandler([this](QWidget*, const QString& text, const QString&) {
      questions_.push_back(text);
      return answer_;
    });
  }
  ~ResumeOfferTest() override { SetQuestionBoxHandler(nullptr); }

  // From the start page through the summary into a finished run; where each
  // stage began: the record's place at the stage's first question to the
  // market.
  std::vector<std::string> RunThroughTheWizard() {
    ScriptedMarket* market = nullptr;  // owned by the wizard's run
    Make({folder_}, [&market](const CRunOptions* options) {
      // A market that lists nothing: the folders hold the 14 built-in issues.
      auto owned = std::make_unique<ScriptedMarket>();
      owned->batch = 10000;
      market = owned.get();
      auto run = std::make_unique<CSetupRun>(options, std::move(owned));
      run->SetListPagePause(0);
      return run;
    });
    market->observed = &wizard_->WorkerPage()->Progress();
    while (wizard_->currentId() != CCustomWizard::kWorkerPage) Next();
    TickUntilEnded();
    std::vector<std::string> starts;
    for (const std::string& at : market->trail) {
      if (at[0] != '0' && (starts.empty() || starts.back()[0] != at[0])) starts.push_back(at);
    }
    return starts;
  }

  std::string folder_ = temp_.Sub("db");
  bool answer_ = true;
  std::vector<QString> questions_;
};

// A readable file is offered once: "はい" continues at its stage and issue
// with its choices and period, "いいえ" starts afresh; an unreadable one is
// not offered. The run removes the file in each case when it succeeds.
TEST_F(ResumeOfferTest, YesContinuesWithTheFilesChoicesOthersStartAfresh) {
  // A folder and gap tolerance given on the command line skip the folder
  // page; Cancel on the summary, before any run, closes without a question.
  Make({folder_, "30"}, MakeSetupRun);
  EXPECT_EQ(wizard_->GapTolerance(), 30);
  for (int i = 0; i < 5; ++i) Next();
  ASSERT_EQ(wizard_->currentId(), CCustomWizard::kMessagePage);
  EXPECT_TRUE(SummaryShown().startsWith("[DBフォルダ]\n  " +
                                        QFile::decodeName(folder_.c_str()) + "\n"));
  Cancel();
  EXPECT_FALSE(wizard_->isVisible());
  EXPECT_TRUE(boxes_.empty() && questions_.empty());

  // A folder that a run through the wizard left, then the position of an
  // interrupted run over the issue list it holds (every run here leaves the
  // same list).
  const std::vector<std::string> fresh = {"1:0", "2:0", "3:0"};  // margin left out
  EXPECT_EQ(fresh, RunThroughTheWizard());
  const std::vector<std::string>& list = wizard_->SetupRun()->IssueList();
  CResumePosition position{.stage = 3, .resumeIndex = 7, .choices = {},
                           .firstDate = CDate(2021, 1, 1), .reading = {.date = CDate(2024, 3, 15)},
                           .issueCount = static_cast<std::int32_t>(list.size()),
                           .issueHash = HashIssueList(list)};
  position.choices.splits = true;
  position.choices.margin = true;  // the table page leaves it out

  // Readable, the answer, where the stages start.
  const std::tuple<bool, bool, std::vector<std::string>> cases[] = {
      {true, true, {"3:7", "4:0"}}, {true, false, fresh}, {false, true, fresh}};
  for (const auto& [readable, answer, starts] : cases) {
    answer_ = answer;
    questions_.clear();
    ASSERT_TRUE(WriteResumeFile(ResumeFilePath(folder_), position));
    if (!readable) std::filesystem::resize_file(ResumeFilePath(folder_), 40);
    EXPECT_EQ(starts, RunThroughTheWizard()) << readable << answer;
    const bool continued = readable && answer;
    const QString offer = QStringLiteral("前回中断したセットアップを続行しますか?");
    EXPECT_EQ(readable ? std::vector<QString>{offer} : std::vector<QString>{}, questions_);
    EXPECT_EQ(continued, wizard_->FirstDate() == position.firstDate);
    EXPECT_EQ(continued, wizard_->Today() == position.reading.date);
    EXPECT_FALSE(std::filesystem::exists(ResumeFilePath(folder_)));
  }
}

}  // namespace
