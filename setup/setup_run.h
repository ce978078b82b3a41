#ifndef TICKORA_SETUP_SETUP_RUN_H_
#define TICKORA_SETUP_SETUP_RUN_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "db/db_stock3.h"
#include "setup/resume_file.h"
#include "setup/run_options.h"
#include "setup/worker_progress.h"
#include "support/date.h"
#include "web/local_clock.h"

// CSetupRun is the body of the worker thread: one call of Run creates the
// folders, creates (or, when resuming, reopens) the database, runs the four
// download stages in order, records the chosen markets in the settings file
// and posts the usage record. It reports only through the WorkerProgress it
// is given.
//
// The object holds the run state that outlives a single run: the issue list,
// the first date, the run's reading of the clock and the gap tolerance.
//
// One reading of the clock: the run's local date and time are read once,
// by the front end as the run starts (SetPeriod), and every rule that
// depends on the time (archive file names and their cut-offs, the 15:00
// rule of a chart's last day, "today", the status texts) uses that reading
// for the whole run, across stages and resumes. The position file keeps it,
// so a run resumed hours or days later continues with the reading it
// started with and ends in the folder an undisturbed run would have left. The owner (the wizard or the
// command-line front end) keeps one CSetupRun for as long as runs may be
// resumed, and calls Run again with the same progress record to resume.
//
// Resume: every stage takes its first index with BeginStage. When the
// record's resume flag is set, the first stage that runs starts at
// resumeIndex and clears the flag, which opens the gates of every later
// stage. So a resumed run skips the stages before the interrupted one,
// restarts that one at the interrupted issue and runs every later stage in
// full.
//
// Resume across processes: with KeepPositionFile(true) the run keeps its
// position in the database folder's "setup-resume.ini" (resume_file.h), and
// stage 1 its code list beside it. A fresh run removes earlier ones first;
// every change of stage or issue index rewrites the position; success
// removes both. A later process continues with the choices read from the
// file, ContinueFrom, and a record set to the file's stage and index with
// resume 1. A resumed price or margin stage first checks the files of the
// issues before its position and fetches again any that is missing or does
// not read, so a folder that lost files is made whole again.
//
// Failures: a stage that cannot write a file or a database row stops with
// its text followed by the cause (the system's error text and the path).
// An exception that reaches Run ends the run as a failure of the stage it
// was in, with a message, so a resume can go on from there.
//
// The options object is not owned and must outlive this object.
class CSetupRun {
 public:
  explicit CSetupRun(const CRunOptions* options);
  virtual ~CSetupRun() = default;
  CSetupRun(const CSetupRun&) = delete;
  CSetupRun& operator=(const CSetupRun&) = delete;

  // Runs the setup on the calling thread. Success leaves stage 5 and an
  // empty error; a failure leaves the error text and the stage and issue
  // where it happened; a cancel leaves the error empty.
  void Run(WorkerProgress& progress);

  // Creates the database folder, then its "daily" and "margin" folders,
  // each only when it is not already a directory. False at the first one
  // that cannot be made; folders made by this call are then removed again.
  [[nodiscard]] bool CreateFolders();

  // The markets text for the settings key "IncludeMarkets": "東証" when ETF
  // or REIT is checked, then each checked Tokyo segment, joined with ";".
  std::string BuildIncludeMarkets() const;

  std::string DatabaseFolder() const;
  std::string DatabaseFilePath() const;  // <folder>/stock.mdb
  std::string DailyFolder() const;       // <folder>/daily
  std::string MarginFolder() const;      // <folder>/margin

  // The first day of the series (1 January of the chosen year) and the
  // run's one reading of the clock, whose date is the last day ("today").
  void SetPeriod(const CDate& first_date, const CLocalTime& reading);
  const CDate& FirstDate() const { return firstDate_; }
  const CDate& Today() const { return reading_.date; }
  const CLocalTime& Reading() const { return reading_; }

  // Issues with a missing trading day that the quick price file accepts.
  void SetGapTolerance(std::int32_t tolerance) { gapTolerance_ = tolerance; }
  [[nodiscard]] std::int32_t GapTolerance() const { return gapTolerance_; }

  // The run's database: the process-wide CDBStock3, taken by InitDatabase;
  // null before the first run.
  CDBStock3* Database() const { return database_; }

  // The codes that stages 2 to 4 work on, ascending; empty until the first
  // of those stages loads it, then kept for resumed runs (a fresh run
  // empties it, as it builds a new database).
  const std::vector<std::string>& IssueList() const { return issueList_; }

  // The first issue index of a stage: resumeIndex when the record's resume
  // flag is set (the flag is then cleared), else 0.
  [[nodiscard]] static std::int32_t BeginStage(WorkerProgress& progress);
  // The same for a stage over `count` items, into `first`. False, with the
  // error set, when a resumed index lies outside the list (only index 0 of
  // an empty one is inside): such a position was not written by a run.
  [[nodiscard]] static bool BeginStage(WorkerProgress& progress,
                                       std::int32_t count, std::int32_t& first);

  void KeepPositionFile(bool keep) { keepPosition_ = keep; }
  [[nodiscard]] bool KeepsPositionFile() const { return keepPosition_; }
  std::string PositionFilePath() const;
  std::string CodeListFilePath() const;

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

  // Calendar days from the first date to today, plus one: the work units of
  // one issue in the price and margin stages.
  [[nodiscard]] std::int32_t DaysInPeriod() const;

 protected:
  const CRunOptions& options() const { return *options_; }
  std::vector<std::string>& issueList() { return issueList_; }

  // The steps Run calls. Each returns true on success; on failure it has set
  // the record's error, except after a cancel, which leaves it empty.

  // A fresh run (resume 0) deletes any earlier "stock.mdb" and builds a new
  // one with the four tables and the built-in issues; a resumed run only
  // reconnects to the database the interrupted run left behind.
  [[nodiscard]] virtual bool InitDatabase(WorkerProgress& progress);
  [[nodiscard]] virtual bool DownloadIssues(WorkerProgress& progress) = 0;
  [[nodiscard]] virtual bool DownloadSplits(WorkerProgress& progress) = 0;
  [[nodiscard]] virtual bool DownloadPrices(WorkerProgress& progress) = 0;
  [[nodiscard]] virtual bool DownloadMargins(WorkerProgress& progress) = 0;
  // For a run resumed after the price stage: checks the chart file of
  // every issue, fetches again those that are gone or do not read, and
  // writes "quick2.dat" anew, so that a daily folder lost since the
  // interruption does not end in a folder without charts. Leaves the
  // record's stage, index and resume flag as they are.
  [[nodiscard]] virtual bool CheckPriceFiles(WorkerProgress& /*progress*/) { return true; }
  // Fills the issue list from the database for the checked kinds.
  [[nodiscard]] virtual bool LoadIssueList(WorkerProgress& progress) = 0;
  // Loads the issue list when it is empty; stages 2 to 4 start with it.
  // A failed load leaves the list empty.
  [[nodiscard]] bool EnsureIssueList(WorkerProgress& progress);

  // The list the running stage works on, whose count and hash go into the
  // position file: stage 1 names its code list, stages 2 to 4 the issue
  // list (EnsureIssueList does that).
  void SetStageList(const std::vector<std::string>& list);
  // The list count and hash a continued run expects for its stage (see
  // ContinueFrom); false when there is none. Taken once: the expectation is
  // cleared.
  [[nodiscard]] bool TakeExpectedList(std::int32_t& count, std::uint32_t& hash);

  // The database's last error in the form "SQLSTATE(native)message",
  // followed by the database file's path.
  std::string DatabaseErrorText() const;

  // Sets the record's stage and resumeIndex as a stage starts on an issue,
  // and keeps the position file up to date when there is one.
  void SavePosition(WorkerProgress& progress, std::int32_t stage,
                    std::int32_t index);

  // Removes what an earlier run of any process left behind that no run
  // needs: temporary files in the folders, and the archive client's private
  // folders of processes that no longer exist.
  virtual void RemoveLeftovers();

  // Hands the archive preference to the market data source.
  virtual void SetArchivePreference(bool use_archive) = 0;
  // Hands the record's cancel flag to the market data source for the length
  // of a run (null when it ends), so that a cancel also stops the download
  // in progress. A source without downloads of its own ignores it.
  virtual void SetCancelFlag(const std::atomic<std::uint8_t>* /*cancel*/) {}
  // Posts the usage record (web/usage_log.h); its outcome is never
  // examined.
  virtual void PostUsageLog(const std::string& event);

 private:
  // Run without the guard against exceptions.
  void RunSteps(WorkerProgress& progress);
  void WriteSettings();
  // Whether the loaded issue list is the one a continued run expects.
  [[nodiscard]] bool IssueListAsExpected();

  const CRunOptions* options_;
  CDBStock3* database_ = nullptr;
  std::vector<std::string> issueList_;
  CDate firstDate_;
  CLocalTime reading_;
  std::int32_t gapTolerance_ = 20;
  bool keepPosition_ = false;
  // The position last written, so that only changes are written.
  std::int32_t writtenStage_ = -1;
  std::int32_t writtenIndex_ = -1;
  // The running stage's list, for the position.
  std::int32_t listCount_ = 0;
  std::uint32_t listHash_ = 0;
  bool expectList_ = false;
  std::int32_t expectedCount_ = 0;
  std::uint32_t expectedHash_ = 0;
};

#endif  // TICKORA_SETUP_SETUP_RUN_H_
