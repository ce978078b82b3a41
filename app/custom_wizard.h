#ifndef TICKORA_APP_CUSTOM_WIZARD_H_
#define TICKORA_APP_CUSTOM_WIZARD_H_

#include <QString>
#include <QWizard>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/worker_page.h"
#include "setup/folder_lock.h"
#include "setup/resume_file.h"
#include "setup/run_options.h"
#include "setup/setup_run.h"
#include "support/date.h"

class CArchivePage;
class CCategoryPage;
class CEndPage;
class CFolderPage;
class CMessagePage;
class CPeriodPage;
class CStartPage;
class CTablePage;
class CYesNoPage;

// CCustomWizard is the setup program's one window: the wizard with every
// page (a watermark down the left, no header), and at the same time the
// worker that the progress page runs and the options that the run reads.
//
// Pages in order: start, folder and yes/no (only without a folder on the
// command line), category, period, table, archive, summary, progress, end.
// The wizard owns its pages and the setup run; the run state (issue list,
// period, gap tolerance) lives in the run and survives from one run to the
// next while the wizard is open, so an interrupted run can be resumed.
//
// Placement: as a dialog, the wizard is centred over its owner when shown,
// or on the work area of its screen when it has none.
//
// A run kept by an earlier process: when the summary page is shown for a
// folder that holds a position file, the wizard asks whether to continue
// it. "はい" takes the file's choices and period in place of the pages'
// and makes the progress page resume at the file's stage and issue;
// "いいえ" leaves the pages' choices, and the fresh run removes the file.
//
// One run per folder: leaving the summary page locks the database folder
// (setup/folder_lock.h), made there when it does not exist yet; the wizard
// holds the lock until it closes, over the run and its resumes. A folder
// that another setup run holds is refused with a message box, and the
// wizard stays on the summary page.
//
// The options: every time the summary page is shown, the wizard takes the
// choices from the pages' controls (and the first date and today). A fresh
// run reads the clock once as it starts; that reading is the run's for its
// whole length and its resumes. The run
// reads that snapshot, from the worker thread, through CRunOptions. The
// controls cannot change while a run lasts, because the progress page
// keeps Back disabled, so the snapshot is what the controls show.
class CCustomWizard : public QWizard,
                      public CWorkerPage::CWorker,
                      public CRunOptions {
  Q_OBJECT

 public:
  // Makes the setup run that the wizard drives, reading the given options.
  using RunFactory =
      std::function<std::unique_ptr<CSetupRun>(const CRunOptions*)>;

  enum PageId {
    kStartPage,
    kFolderPage,
    kYesNoPage,
    kCategoryPage,
    kPeriodPage,
    kTablePage,
    kArchivePage,
    kMessagePage,
    kWorkerPage,
    kEndPage,
  };

  // `factory` is called once, here; a null run makes every run fail with a
  // message saying so.
  explicit CCustomWizard(const CWizardCommandLine& line,
                         const RunFactory& factory, QWidget* parent = nullptr);
  ~CCustomWizard() override;

  // CWorkerPage::CWorker: runs the setup with the options last taken.
  void Run(WorkerProgress& progress) override;

  // CRunOptions, answered from the snapshot taken on the summary page.
  std::string DatabaseFolder() const override;
  bool IsMarketChecked(MarketItem item) const override;
  bool SplitsChosen() const override;
  bool MarginChosen() const override;
  bool UseArchive() const override;

  // Cancel (button, Escape or closing the window): while the progress page
  // runs, cancels the run and stays open; otherwise closes. A cancelled run
  // opens the way back to the summary, as its message says: the summary
  // then offers to continue it from its position file (Next on the
  // progress page continues it at once).
  void reject() override;

  // Leaving the summary page takes the lock of the folder it names first,
  // and makes the summary the page no run goes back past again.
  bool validateCurrentPage() override;

  // The database folder as the pages show it: the command line's folder,
  // else the folder page's text.
  QString DatabaseFolderText() const;

  const std::string& FolderOverride() const { return folderOverride_; }
  std::int32_t GapTolerance() const { return gapTolerance_; }
  const CDate& FirstDate() const { return firstDate_; }
  const CDate& Today() const { return today_; }
  CSetupRun* SetupRun() const { return run_.get(); }

  // The pages; the folder and yes/no pages are null with a folder on the
  // command line.
  CFolderPage* FolderPage() const { return folderPage_; }
  CYesNoPage* YesNoPage() const { return yesNoPage_; }
  CCategoryPage* CategoryPage() const { return categoryPage_; }
  CPeriodPage* PeriodPage() const { return periodPage_; }
  CTablePage* TablePage() const { return tablePage_; }
  CArchivePage* ArchivePage() const { return archivePage_; }
  CMessagePage* MessagePage() const { return messagePage_; }
  CWorkerPage* WorkerPage() const { return workerPage_; }
  CEndPage* EndPage() const { return endPage_; }

 private:
  // Fills the text of the yes/no page or the summary page when it is
  // entered; for the summary also takes the run's options.
  void FillPageText(QWizardPage* page);
  void TakeRunOptions();
  // Asks about a position file in the folder; true when the run is to
  // continue it (the options are then the file's).
  bool OfferResume();
  // Makes the database folder when needed and locks it; false, after a
  // message box saying why, when another run holds it or it cannot be made
  // or locked.
  bool LockFolder();

  CStartPage* startPage_ = nullptr;
  CFolderPage* folderPage_ = nullptr;
  CYesNoPage* yesNoPage_ = nullptr;
  CCategoryPage* categoryPage_ = nullptr;
  CPeriodPage* periodPage_ = nullptr;
  CTablePage* tablePage_ = nullptr;
  CArchivePage* archivePage_ = nullptr;
  CMessagePage* messagePage_ = nullptr;
  CWorkerPage* workerPage_ = nullptr;
  CEndPage* endPage_ = nullptr;

  std::string folderOverride_;
  std::int32_t gapTolerance_ = 20;
  CRunChoices choices_;
  CDate firstDate_;
  CDate today_;
  std::unique_ptr<CSetupRun> run_;
  // The position the next run continues, set by "はい" on the summary page.
  bool resumeFromFile_ = false;
  CResumePosition filePosition_;
  CFolderLock lock_;
  std::string lockedFolder_;  // the folder lock_ holds
};

#endif  // TICKORA_APP_CUSTOM_WIZARD_H_
