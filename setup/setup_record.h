#ifndef TICKORA_SETUP_SETUP_RECORD_H_
#define TICKORA_SETUP_SETUP_RECORD_H_

#include <cstdint>
#include <string>

#include "setup/key_value_file.h"
#include "setup/run_options.h"
#include "support/date.h"
#include "web/local_clock.h"

// The record of a finished setup, kept in the database folder as
// "setup-record.ini" so that a later run can bring the folder forward with
// the same choices: the kinds of issues, splits, margin balances, the
// archive preference, the first date, the gap tolerance of the quick price
// file, and the run's reading of the clock (the day the folder's data
// reaches). A run writes it as it finishes, in the key=value form of
// key_value_file.h, atomically.
struct CSetupRecord {
  static constexpr std::int32_t kVersion = 1;
  CRunChoices choices;  // databaseFolder is not stored
  CDate firstDate;
  CLocalTime reading;
  std::int32_t gapTolerance = 20;
};

// "<folder>/setup-record.ini".
std::string SetupRecordPath(const std::string& folder);

// Writes the record atomically; false when it could not be written (an old
// record, if any, is then as it was).
[[nodiscard]] bool WriteSetupRecord(const std::string& path, const CSetupRecord& record);

using SetupRecordResult = KeyValueFileResult;

// Reads a record. kOtherVersion for a record written by another format
// version, kDamaged for one that is not a complete, valid record (empty,
// unknown or repeated keys, a value out of range, a missing key, a link
// instead of a file). `record` is changed only on kOk.
SetupRecordResult ReadSetupRecord(const std::string& path, CSetupRecord& record);

#endif  // TICKORA_SETUP_SETUP_RECORD_H_
