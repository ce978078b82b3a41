#ifndef TICKORA_SETUP_RUN_CONTEXT_H_
#define TICKORA_SETUP_RUN_CONTEXT_H_

#include <cstdint>
#include <string>

#include "db/db_stock3.h"
#include "setup/run_options.h"
#include "setup/run_position.h"
#include "setup/worker_progress.h"
#include "support/date.h"
#include "web/local_clock.h"
#include "web/web_market.h"

// The database and the two series folders of a database folder:
// "<folder>/stock.mdb", "<folder>/daily" and "<folder>/margin".
std::string DatabaseFileIn(const std::string& folder);
std::string DailyFolderIn(const std::string& folder);
std::string MarginFolderIn(const std::string& folder);

// CRunContext is what a setup run lends each of its stages for the length
// of the stage: the user's choices, the run's database and market data
// source, the progress record and the position, the period and the run's
// one reading of the clock, and the count of refused records. The run owns
// every piece; the context only refers to them, so it must not outlive
// the run (or, in a test, the pieces it was made from).
//
// One reading of the clock: every rule that depends on the time (archive
// file names and their cut-offs, the 15:00 rule of a chart's last day,
// "today", the status texts) uses `reading`, taken once as the run started
// and kept in the position file, so a run resumed days later still ends in
// the folder an undisturbed run would have left.
struct CRunContext {
  const CRunOptions& options;
  CDBStock3& database;
  CWebMarket& market;
  WorkerProgress& progress;
  CRunPosition& position;
  CDate firstDate;
  CLocalTime reading;
  // Issues with a missing trading day that the quick price file accepts.
  std::int32_t gapTolerance = 20;
  // Records from the sources that no file or row may hold, refused: bars
  // and margin entries on a day that does not exist, out of their span,
  // repeated or out of order, or with a value that is not a finite
  // non-negative number; splits with such a date or ratio.
  std::int64_t& refusedRecords;
  // The run brings a finished folder forward: each chart and margin file
  // gets the records after its last one, appended in place.
  bool update = false;

  const CDate& Today() const { return reading.date; }
  // Calendar days from the first date to today, plus one: the work units of
  // one issue in the price and margin stages.
  [[nodiscard]] std::int32_t DaysInPeriod() const;

  std::string DatabaseFolder() const { return options.DatabaseFolder(); }
  std::string DatabaseFilePath() const { return DatabaseFileIn(DatabaseFolder()); }
  std::string DailyFolder() const { return DailyFolderIn(DatabaseFolder()); }
  std::string MarginFolder() const { return MarginFolderIn(DatabaseFolder()); }

  // The database's last error in the form "SQLSTATE(native)message",
  // followed by the database file's path.
  std::string DatabaseErrorText() const;
};

// A download that the record's cancel flag stopped: the stage ends as
// cancelled, without an error text. The status alone is not taken for a
// cancel: a run that ends without error text and without the user's cancel
// would look finished.
[[nodiscard]] bool Cancelled(std::int32_t status, const WorkerProgress& progress);

#endif  // TICKORA_SETUP_RUN_CONTEXT_H_
