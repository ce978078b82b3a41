#ifndef TICKORA_APP_CLI_CLI_OPTIONS_H_
#define TICKORA_APP_CLI_CLI_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "setup/resume_file.h"

// The command line of tickora-setup-cli:
//
//   tickora-setup-cli [options] FOLDER
//
//   --from-year YEAR     first year of the series, 2000 to this year (2010)
//   --kinds LIST         comma-separated: etf,reit,prime,standard,growth,
//                        other (prime)
//   --no-splits          leave out the split data
//   --margin             add the margin balances
//   --no-archive         read the web pages instead of the bulk archive
//   --gap-tolerance N    issues with a missing trading day that the quick
//                        price file accepts (20)
//   --resume             continue the interrupted run whose position the
//                        folder keeps; its choices and period are used
//   --update             bring the finished setup in the folder to today
//                        with its recorded choices (setup/setup_record.h);
//                        with --quiet alone
//   --quiet              no progress lines
//   --help, --version
//
// An option's value may follow as the next word or after "=".
struct CCliOptions {
  std::string folder;
  std::int32_t fromYear = 2010;
  bool etf = false;
  bool reit = false;
  bool prime = true;
  bool standard = false;
  bool growth = false;
  bool other = false;
  bool splits = true;
  bool margin = false;
  bool archive = true;
  std::int32_t gapTolerance = 20;
  bool quiet = false;
  bool resume = false;
  bool update = false;
  // Which choices the command line gave, to be held against a resumed
  // run's own.
  bool fromYearGiven = false;
  bool kindsGiven = false;
  bool splitsGiven = false;
  bool marginGiven = false;
  bool archiveGiven = false;
  bool gapToleranceGiven = false;
  bool help = false;
  bool version = false;
};

// Reads the arguments (without the program name) into `options`. False
// with a one-line `error` for an unknown option, a missing or malformed
// value, an unknown kind, a year outside 2000 to `currentYear`, a missing
// or second FOLDER, a FOLDER that exists and is not a directory, or one
// whose parent folder does not exist. With
// --help or --version the rest is not checked. Looks at the file system
// only to test FOLDER; changes nothing.
bool ParseCliOptions(const std::vector<std::string>& args,
                     std::int32_t currentYear, CCliOptions& options,
                     std::string& error);

// For --resume: takes the kinds, splits, margin, archive and first year
// from the interrupted run's position. False with a one-line `error` when
// the command line gave one of them otherwise.
bool TakeResumeChoices(const CResumePosition& position, CCliOptions& options,
                       std::string& error);

// The text --help prints.
std::string CliUsage();

#endif  // TICKORA_APP_CLI_CLI_OPTIONS_H_
