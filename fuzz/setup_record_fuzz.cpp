// Feeds arbitrary bytes to ReadSetupRecord as a setup record. Besides the
// sanitizers' checks it stops on any broken promise of the reader: a record
// that is not read leaves the caller's record as it was; a record that is
// read holds real days from 1900 on (the first no later than the reading's
// day) and a time of day; written back, it holds the same keys with the
// same values, one line each, and reads again as the record written.
#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "fuzz/fuzz_files.h"
#include "setup/key_value_file.h"
#include "setup/setup_record.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

namespace {

bool RealDay(const CDate& date) {
  return date.ToNumber() >= 19000101 && date.month >= 1 && date.month <= 12 && date.day >= 1 &&
         date.day <= CDate::DaysInMonth(date.month, date.year);
}

// The key=value pairs of a file as the record's format reads them.
std::map<std::string, std::uint32_t> Pairs(const std::string& path) {
  std::map<std::string, std::uint32_t> values;
  Check(ReadKeyValueFile(path, "[TickoraSetupRecord]", CSetupRecord::kVersion, values) ==
        KeyValueFileResult::kOk);
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("setup-record.ini");
  static const std::string first = TempPath("setup-record-a.ini");
  static const std::string second = TempPath("setup-record-b.ini");
  if (!WriteBytes(input, data, size)) return 0;

  // A record no run could write, so that any change shows in its bytes.
  CSetupRecord record;
  record.choices.etf = false;
  record.gapTolerance = -1;
  fuzz::Fresh(first);
  Check(WriteSetupRecord(first, record));
  const SetupRecordResult got = ReadSetupRecord(input, record);
  if (got != SetupRecordResult::kOk) {
    fuzz::Fresh(second);
    Check(got != SetupRecordResult::kMissing && WriteSetupRecord(second, record));
    Check(ReadBytes(first) == ReadBytes(second));
    return 0;
  }
  Check(RealDay(record.firstDate) && RealDay(record.reading.date) &&
        record.firstDate <= record.reading.date);
  Check(record.reading.hour >= 0 && record.reading.hour <= 23 && record.reading.minute >= 0 &&
        record.reading.minute <= 59 && record.gapTolerance >= 0);

  fuzz::Fresh(first);
  Check(WriteSetupRecord(first, record));
  const auto pairs = Pairs(first);
  Check(Pairs(input) == pairs);
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line);) ++count;
  Check(count == pairs.size() + 1);  // the header and a line per key

  CSetupRecord again;
  Check(ReadSetupRecord(first, again) == SetupRecordResult::kOk);
  fuzz::Fresh(second);
  Check(WriteSetupRecord(second, again));
  Check(ReadBytes(first) == ReadBytes(second));
  return 0;
}
