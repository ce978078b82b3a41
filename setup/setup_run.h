#ifndef TICKORA_SETUP_SETUP_RUN_H_
#define TICKORA_SETUP_SETUP_RUN_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/db_stock3.h"
#include "setup/issue_stage.h"
#include "setup/resume_file.h"
#include "setup/run_context.h"
#include "setup/run_options.h"
#include "setup/run_position.h"
#include "setup/worker_progress.h"
#include "support/date.h"
#include "web/local_clock.h"
#include "web/web_market.h"

// CSetupRun is the body of the worker thread: one call of Run creates the
// folders, creates (or, when resuming, reopens) the database, runs the
// stages in order over a CRunContext it lends them, records the chosen
// markets in the settings file and posts the usage record:
//
//   1 issues   (issue_stage.h)    one 銘柄 row for each issue found;
//   2 splits   (split_stage.h)    the splits of every issue of the list;
//   3 prices   (series_stages.h)  one chart file per issue, "quick2.dat";
//   4 margin   (series_stages.h)  one margin file per issue, "quickmg2.dat".
//
// Stages 2 to 4 work on the issue list (issue_list.h), read from the
// database once, before the first of them that runs. The run reports only
// through the WorkerProgress it is given.
//
// The object owns what its runs work with and what outlives a single run:
// its own connection to the folder's "stock.mdb", the market data source,
// the position, stage 1's code list, the issue list, the first date, the
// run's reading of the clock (see run_context.h) and the gap tolerance. The
// owner (the wizard or the command-line front end) keeps one CSetupRun for
// as long as runs may be resumed, and calls Run again with the same
// progress record to resume.
//
// Resume: every stage takes its first index with CRunPosition::BeginStage.
// When the record's resume flag is set, the first stage that runs starts
// at resumeIndex and clears the flag, which opens the gates of every later
// stage. So a resumed run skips the stages before the interrupted one,
// restarts that one at the interrupted issue and runs every later stage in
// full. A resumed price or margin stage first checks the files of the
// issues before its position and fetches again any that is missing or does
// not read.
//
// Resume across processes: with KeepPositionFile(true) the run keeps its
// position in the database folder's "setup-resume.ini" (resume_file.h), and
// stage 1 its code list beside it. A fresh run removes earlier ones first;
// every change of stage or issue index rewrites the position; success
// removes both. A later process continues with the choices read from the
// file, ContinueFrom, and a record set to the file's stage and index with
// resume 1.
//
// Failures: a stage that cannot write a file or a database row stops with
// its text followed by the cause (the system's error text and the path).
// An exception that reaches Run ends the run as a failure of the stage it
// was in, with a message, so a resume can go on from there.
class CSetupRun {
 public:
  // `market` may be null: a CWebMarket is made then. Either way its clock
  // is set to the run's reading. The options object is not owned and must
  // outlive this object.
  explicit CSetupRun(const CRunOptions* options, std::unique_ptr<CWebMarket> market = nullptr);
  ~CSetupRun();
  CSetupRun(const CSetupRun&) = delete;
  CSetupRun& operator=(const CSetupRun&) = delete;

  // Runs the setup on the calling thread. Success leaves kStageFinished and
  // an empty error; a failure leaves the error text and the stage and issue
  // where it happened; a cancel leaves the error empty.
  void Run(WorkerProgress& progress);

  // Creates the database folder, then its "daily" and "margin" folders,
  // each only when it is not already a directory. False at the first one
  // that cannot be made; folders made by this call are then removed again.
  [[nodiscard]] bool CreateFolders();

  // The markets text for the settings key "IncludeMarkets": "東証" when ETF
  // or REIT is checked, then each checked Tokyo segment, joined with ";".
  std::string BuildIncludeMarkets() const;

  std::string DatabaseFolder() const { return options_->DatabaseFolder(); }
  std::string DatabaseFilePath() const { return DatabaseFileIn(DatabaseFolder()); }
  std::string DailyFolder() const { return DailyFolderIn(DatabaseFolder()); }
  std::string MarginFolder() const { return MarginFolderIn(DatabaseFolder()); }

  // The first day of the series (1 January of the chosen year) and the
  // run's one reading of the clock, whose date is the last day ("today").
  void SetPeriod(const CDate& first_date, const CLocalTime& reading);
  const CDate& FirstDate() const { return firstDate_; }
  const CDate& Today() const { return reading_.date; }
  const CLocalTime& Reading() const { return reading_; }

  // Issues with a missing trading day that the quick price file accepts.
  void SetGapTolerance(std::int32_t tolerance) { gapTolerance_ = tolerance; }
  [[nodiscard]] std::int32_t GapTolerance() const { return gapTolerance_; }

  // Pause between two issue list pages, 100 ms unless changed.
  void SetListPagePause(std::int32_t milliseconds) { issueStage_.SetListPagePause(milliseconds); }

  // The run's database: open after a run (or CheckResume) until the object
  // goes.
  CDBStock3& Database() { return database_; }
  CWebMarket& Market() { return *market_; }

  // The codes that stages 2 to 4 work on, ascending; empty until the first
  // of those stages loads it, then kept for resumed runs (a fresh run
  // empties it, as it builds a new database).
  const std::vector<std::string>& IssueList() const { return issueList_; }

  // Records refused since the object was made (see CRunContext), and codes
  // that broke the code rule (see CIssueStage).
  std::int64_t RefusedRecords() const { return refusedRecords_; }
  std::size_t RejectedCodes() const { return issueStage_.RejectedCodes(); }

  // Makes the next runs updates of the finished setup in the folder: the
  // database is reconnected to, not made anew; stages 1 and 2 run as in a
  // setup (rows are inserted or updated); each chart and margin file gets
  // the records after its last one appended in place, a file that is
  // missing or does not read is fetched whole; both quick files are
  // written anew; the record of the setup is rewritten with the run's
  // reading. Nothing is deleted: an issue no longer listed keeps its row
  // and files.
  void SetUpdate(bool update) { update_ = update; }
  [[nodiscard]] bool IsUpdate() const { return update_; }

  void KeepPositionFile(bool keep) { position_.Keep(keep); }
  std::string PositionFilePath() const { return ResumeFilePath(DatabaseFolder()); }

  // Makes the next run continue the interrupted run that `position`
  // describes: its first date and clock reading, and the list its stage
  // worked on (count and hash), which the list the run works on has to
  // match, or the run stops with an error rather than continue on other
  // issues. The choices and the record are the caller's to set.
  void ContinueFrom(const CResumePosition& position);

  // For a front end before it continues `position` (see ContinueFrom):
  // whether the folder's database and files fit it. False with a one-line
  // reason (ASCII) when the position lies outside its stage's list or the
  // list differs from the one the interrupted run worked on. Opens the
  // database and loads the issue list (which the run then uses); stage 1
  // looks at its kept code list only.
  [[nodiscard]] bool CheckResume(const CResumePosition& position, std::string& reason);

 private:
  CRunContext Context(WorkerProgress& progress);
  // Run without the guard against exceptions.
  void RunSteps(WorkerProgress& progress);
  // A fresh run (resume 0) deletes any earlier "stock.mdb" and builds a new
  // one with the four tables and the built-in issues; a resumed run only
  // reconnects to the database the interrupted run left behind.
  [[nodiscard]] bool InitDatabase(WorkerProgress& progress);
  // Loads the issue list when it is empty and names it to the position.
  // A list that is not the one a continued run expects stops the run.
  [[nodiscard]] bool EnsureIssueList(CRunContext& run);
  // For an update: leaves out of the issue list the listed kinds of issue
  // that stage 1's listing no longer holds (delisted ones): their rows and
  // files stay as they are, and they are asked nothing, as the sites no
  // longer answer for them. The built-in issues always stay. Without a
  // listing at hand (an update resumed after stage 1 whose code list file
  // is gone) the list stays whole.
  void KeepListedIssues();
  // Whether an issue of the list has no file named by `path_of` in
  // `folder`: an update then asks it from the first year on.
  [[nodiscard]] bool AnyIssueWithoutFile(bool (*path_of)(const std::string&, const std::string&,
                                                         std::string&),
                                         const std::string& folder) const;
  // Whether the loaded issue list is the one a continued run expects.
  [[nodiscard]] bool IssueListAsExpected();
  // Removes what an earlier run of any process left behind that no run
  // needs: temporary files in the folders, and the archive client's private
  // folders of processes that no longer exist.
  void RemoveLeftovers();
  void WriteSettings();
  // What every position of a run holds besides its stage, index and list:
  // the choices, the first date and the clock reading.
  CResumePosition RunPosition() const;

  const CRunOptions* options_;
  CDBStock3 database_;
  std::unique_ptr<CWebMarket> market_;
  CRunPosition position_;
  CIssueStage issueStage_;
  std::vector<std::string> issueList_;
  CDate firstDate_;
  CLocalTime reading_;
  std::int32_t gapTolerance_ = 20;
  std::int64_t refusedRecords_ = 0;
  bool update_ = false;
};

#endif  // TICKORA_SETUP_SETUP_RUN_H_
