#include "setup/setup_record.h"

#include <climits>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

#include "setup/key_value_file.h"

namespace {

constexpr char kHeader[] = "[TickoraSetupRecord]";

// Every key of a record: these and the choice keys (key_value_file.h).
const char* const kKeys[] = {"version", "first", "today", "hour", "minute", "gaps"};

}  // namespace

std::string SetupRecordPath(const std::string& folder) {
  return folder + "/" + "setup-record.ini";
}

bool WriteSetupRecord(const std::string& path, const CSetupRecord& record) {
  KeyValues pairs = {{"version", CSetupRecord::kVersion}};
  AddChoices(record.choices, pairs);
  AddPeriod(record.firstDate, record.reading, pairs);
  pairs.emplace_back("gaps", static_cast<std::uint32_t>(record.gapTolerance));
  return WriteKeyValueFile(path, kHeader, pairs);
}

SetupRecordResult ReadSetupRecord(const std::string& path, CSetupRecord& record) {
  std::map<std::string, std::uint32_t> values;
  const SetupRecordResult got = ReadKeyValueFile(path, kHeader, CSetupRecord::kVersion, values);
  if (got != SetupRecordResult::kOk) return got;
  CSetupRecord read;
  if (values.size() != std::size(kKeys) + kChoiceKeyCount || !TakeChoices(values, read.choices) ||
      !TakePeriod(values, read.firstDate, read.reading) || values.count("gaps") == 0 ||
      values["gaps"] > INT32_MAX) {
    return SetupRecordResult::kDamaged;
  }
  read.gapTolerance = static_cast<std::int32_t>(values["gaps"]);
  record = read;
  return SetupRecordResult::kOk;
}
