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
  pairs.insert(pairs.end(),
               {{"first", record.firstDate.ToNumber()},
                {"today", record.reading.date.ToNumber()},
                {"hour", static_cast<std::uint32_t>(record.reading.hour)},
                {"minute", static_cast<std::uint32_t>(record.reading.minute)},
                {"gaps", static_cast<std::uint32_t>(record.gapTolerance)}});
  return WriteKeyValueFile(path, kHeader, pairs);
}

SetupRecordResult ReadSetupRecord(const std::string& path, CSetupRecord& record) {
  std::map<std::string, std::uint32_t> values;
  const SmallFileRead got = ReadKeyValueFile(path, kHeader, values);
  if (got == SmallFileRead::kMissing) return SetupRecordResult::kMissing;
  if (got != SmallFileRead::kOk) return SetupRecordResult::kDamaged;
  // The version is judged first: a record of another version may well have
  // other keys.
  const auto version = values.find("version");
  if (version == values.end()) return SetupRecordResult::kDamaged;
  if (version->second != static_cast<std::uint32_t>(CSetupRecord::kVersion)) {
    return SetupRecordResult::kOtherVersion;
  }
  CSetupRecord read;
  if (values.size() != std::size(kKeys) + kChoiceKeyCount || !TakeChoices(values, read.choices)) {
    return SetupRecordResult::kDamaged;
  }
  for (const char* key : kKeys) {
    if (values.count(key) == 0) return SetupRecordResult::kDamaged;
  }
  if (values["hour"] > 23 || values["minute"] > 59 || values["gaps"] > INT32_MAX ||
      !ParseFileDate(values["first"], read.firstDate) ||
      !ParseFileDate(values["today"], read.reading.date) || read.reading.date < read.firstDate) {
    return SetupRecordResult::kDamaged;
  }
  read.reading.hour = static_cast<int>(values["hour"]);
  read.reading.minute = static_cast<int>(values["minute"]);
  read.gapTolerance = static_cast<std::int32_t>(values["gaps"]);
  record = read;
  return SetupRecordResult::kOk;
}
