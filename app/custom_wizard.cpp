#include "app/custom_wizard.h"

#include <QFile>
#include <QPixmap>

#include <filesystem>
#include <system_error>

#include "app/choice_pages.h"
#include "app/folder_pages.h"
#include "app/message_box.h"
#include "app/summary.h"
#include "app/text_pages.h"
#include "support/cp932.h"
#include "web/local_clock.h"

namespace {

QString WizardTitle() {
  return QStringLiteral("データベースセットアップウィザード");
}

}  // namespace

CCustomWizard::CCustomWizard(const CWizardCommandLine& line,
                             const RunFactory& factory, QWidget* parent)
    : QWizard(parent),
      folderOverride_(line.folderOverride),
      gapTolerance_(line.gapTolerance) {
  setWindowTitle(WizardTitle());
  // The exterior page look: no header area, the watermark down the left.
  setWizardStyle(QWizard::ModernStyle);
  setPixmap(QWizard::WatermarkPixmap, QPixmap(QStringLiteral(":/art/watermark.png")));
  setWindowIcon(QPixmap(QStringLiteral(":/art/tickora-setup.png")));
  setOption(QWizard::DisabledBackButtonOnLastPage, true);
  setButtonText(QWizard::BackButton, QStringLiteral("< 戻る(&B)"));
  setButtonText(QWizard::NextButton, QStringLiteral("次へ(&N) >"));
  setButtonText(QWizard::CommitButton, QStringLiteral("次へ(&N) >"));
  setButtonText(QWizard::FinishButton, QStringLiteral("完了"));
  setButtonText(QWizard::CancelButton, QStringLiteral("キャンセル"));

  startPage_ = new CStartPage;
  setPage(kStartPage, startPage_);
  if (folderOverride_.empty()) {
    folderPage_ = new CFolderPage;
    yesNoPage_ = new CYesNoPage;
    setPage(kFolderPage, folderPage_);
    setPage(kYesNoPage, yesNoPage_);
    connect(yesNoPage_, &CYesNoPage::TextRequested, this,
            &CCustomWizard::FillPageText);
  }
  categoryPage_ = new CCategoryPage;
  periodPage_ = new CPeriodPage;
  tablePage_ = new CTablePage;
  archivePage_ = new CArchivePage;
  messagePage_ = new CMessagePage;
  workerPage_ = new CWorkerPage;
  endPage_ = new CEndPage;
  setPage(kCategoryPage, categoryPage_);
  setPage(kPeriodPage, periodPage_);
  setPage(kTablePage, tablePage_);
  setPage(kArchivePage, archivePage_);
  setPage(kMessagePage, messagePage_);
  setPage(kWorkerPage, workerPage_);
  setPage(kEndPage, endPage_);
  connect(messagePage_, &CMessagePage::TextRequested, this,
          &CCustomWizard::FillPageText);

  // Leaving the summary starts the run; from then on there is no way back
  // to the options, so that they cannot change under a run or between a
  // run and its resume.
  messagePage_->setCommitPage(true);

  // Every page carries the wizard's caption, as a dialog page of its own
  // would; the page titles stay empty, so no page gets a header area.
  for (int id : pageIds()) page(id)->setWindowTitle(WizardTitle());

  workerPage_->SetWorker(this);
  if (factory) run_ = factory(this);
  if (run_) run_->KeepPositionFile(true);
  setMinimumWidth(560);
}

CCustomWizard::~CCustomWizard() {
  // The pages go after this object's members; the run's thread uses both,
  // so it has to end first.
  workerPage_->StopQuietly();
}

void CCustomWizard::Run(WorkerProgress& progress) {
  if (!run_) {
    progress.SetError(Cp932FromUtf8(
        "このプログラムにはセットアップ処理が組み込まれていません"));
    return;
  }
  run_->SetGapTolerance(gapTolerance_);
  if (resumeFromFile_ && progress.resume == 1) {
    // A run kept by an earlier process goes on with its own period and
    // clock reading, over the list it worked on.
    run_->ContinueFrom(filePosition_);
  } else if (progress.resume == 0) {
    // A fresh run reads the clock once, as it starts. A resume in this
    // process keeps the reading of the run it continues.
    run_->SetPeriod(firstDate_, SystemLocalTime());
  }
  resumeFromFile_ = false;
  run_->Run(progress);
}

std::string CCustomWizard::DatabaseFolder() const {
  return choices_.DatabaseFolder();
}

bool CCustomWizard::IsMarketChecked(MarketItem item) const {
  return choices_.IsMarketChecked(item);
}

bool CCustomWizard::SplitsChosen() const { return choices_.SplitsChosen(); }
bool CCustomWizard::MarginChosen() const { return choices_.MarginChosen(); }
bool CCustomWizard::UseArchive() const { return choices_.UseArchive(); }

void CCustomWizard::reject() {
  if (currentPage() == workerPage_ && workerPage_->Cancel()) {
    if (workerPage_->state() == CWorkerPage::State::kCancelled) {
      // Back is open while the previous page is no commit page.
      messagePage_->setCommitPage(false);
      emit workerPage_->completeChanged();
    }
    return;
  }
  QWizard::reject();
}

bool CCustomWizard::validateCurrentPage() {
  if (currentPage() == messagePage_) {
    // The pages before may have named another folder since the last lock.
    if (!(lock_.Locked() && lockedFolder_ == choices_.databaseFolder) && !LockFolder()) {
      return false;
    }
    messagePage_->setCommitPage(true);
  }
  return QWizard::validateCurrentPage();
}

bool CCustomWizard::LockFolder() {
  const std::string& folder = choices_.databaseFolder;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec) &&
      !std::filesystem::create_directory(folder, ec)) {
    ShowMessageBox(this, QStringLiteral("データベースフォルダを作成できませんでした\n\n") +
                             QString::fromStdString(ec.message()) + QStringLiteral(" (") +
                             QFile::decodeName(folder.c_str()) + QStringLiteral(")"));
    return false;
  }
  switch (lock_.Lock(folder)) {
    case CFolderLock::Result::kLocked:
      lockedFolder_ = folder;
      return true;
    case CFolderLock::Result::kBusy:
      ShowMessageBox(this, QStringLiteral(
                               "このフォルダでは別のセットアップが実行中です。\n"
                               "そのセットアップが終わってから、もう一度「次へ」を押してください。"));
      return false;
    case CFolderLock::Result::kFailed:
      break;
  }
  ShowMessageBox(this, QStringLiteral("データベースフォルダをロックできませんでした\n\n") +
                           QString::fromStdString(Utf8FromCp932(lock_.Error())));
  return false;
}

QString CCustomWizard::DatabaseFolderText() const {
  if (!folderOverride_.empty()) return QFile::decodeName(folderOverride_.c_str());
  return folderPage_->Folder();
}

void CCustomWizard::FillPageText(QWizardPage* page) {
  if (page == yesNoPage_) {
    yesNoPage_->SetQuestion(FolderQuestion(DatabaseFolderText()));
  } else if (page == messagePage_) {
    TakeRunOptions();
    OfferResume();
    CSummaryChoices summary;
    summary.folder = DatabaseFolderText();
    summary.etf = choices_.etf;
    summary.reit = choices_.reit;
    summary.prime = choices_.prime;
    summary.standard = choices_.standard;
    summary.growth = choices_.growth;
    summary.otherMarkets = choices_.otherMarkets;
    summary.firstYear = static_cast<int>(firstDate_.year);
    summary.splits = choices_.splits;
    summary.margin = choices_.margin;
    summary.useArchive = choices_.useArchive;
    messagePage_->SetHeading(SummaryHeading());
    messagePage_->SetSummary(BuildSummary(summary));
  }
}

void CCustomWizard::TakeRunOptions() {
  // The folder is a file system name: it goes to the run in the file
  // system's encoding, not as display text.
  choices_.databaseFolder =
      folderOverride_.empty()
          ? QFile::encodeName(folderPage_->Folder()).toStdString()
          : folderOverride_;
  choices_.etf = categoryPage_->IsChecked(kEtf);
  choices_.reit = categoryPage_->IsChecked(kReit);
  choices_.prime = categoryPage_->IsChecked(kPrime);
  choices_.standard = categoryPage_->IsChecked(kStandard);
  choices_.growth = categoryPage_->IsChecked(kGrowth);
  choices_.otherMarkets = categoryPage_->IsChecked(kOtherMarkets);
  choices_.splits = tablePage_->SplitsChecked();
  choices_.margin = tablePage_->MarginChecked();
  choices_.useArchive = archivePage_->UseArchive();
  firstDate_ = CDate(static_cast<std::uint32_t>(periodPage_->Year()), 1, 1);
  today_ = CDate::Today();
  workerPage_->SetStagesChosen(choices_.splits, choices_.margin);
}

bool CCustomWizard::OfferResume() {
  resumeFromFile_ = false;
  workerPage_->SetPendingResume(false, 0, 0);
  CResumePosition position;
  const ResumeFileResult read =
      ReadResumeFile(ResumeFilePath(choices_.databaseFolder), position);
  if (read == ResumeFileResult::kMissing) return false;
  if (read != ResumeFileResult::kOk) {
    // Never guessed: a file this program cannot read is not continued.
    ShowMessageBox(this, QStringLiteral(
                             "前回中断したセットアップの記録を読み込めないため、"
                             "最初からセットアップします"));
    return false;
  }
  if (!AskYesNo(this, QStringLiteral("前回中断したセットアップを続行しますか?"))) {
    return false;
  }
  const std::string folder = choices_.databaseFolder;
  choices_ = position.choices;
  choices_.databaseFolder = folder;
  firstDate_ = position.firstDate;
  today_ = position.reading.date;
  workerPage_->SetStagesChosen(choices_.splits, choices_.margin);
  workerPage_->SetPendingResume(true, position.stage, position.resumeIndex);
  filePosition_ = position;
  resumeFromFile_ = true;
  return true;
}
