#ifndef TICKORA_SETUP_KEY_VALUE_FILE_H_
#define TICKORA_SETUP_KEY_VALUE_FILE_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "setup/run_options.h"
#include "support/date.h"
#include "web/local_clock.h"

// The small files a setup run keeps in its database folder (the position
// of an interrupted run, the record of a finished one) are ASCII: a header
// line, then "key=value" lines whose values are unsigned decimal numbers,
// whatever the locale. They are written to a temporary name in the same
// folder and renamed over the real one (support/replace_file.h), so a reader
// sees the old file or the new one, never half of one; a link at the real
// name is never followed when reading.

enum class SmallFileRead { kOk, kMissing, kFailed };

// Reads a whole file of at most 4 MiB (anything larger is not one of ours)
// without following a link at `path`.
[[nodiscard]] SmallFileRead ReadSmallFile(const std::string& path, std::string& text);

using KeyValues = std::vector<std::pair<const char*, std::uint32_t>>;

// What reading one of the files gave: its values, no file, a file of
// another format version (which may well have other keys), or a file that
// cannot be read or is not one of ours.
enum class KeyValueFileResult { kOk, kMissing, kOtherVersion, kDamaged };

// Reads a key=value file under `header` whose "version" is `version`.
// kDamaged for a file that cannot be read, or is not such a file: another
// header, a line without "=", a value that is not a number, a key given
// twice, no version. `values` holds every key, "version" too, on kOk.
[[nodiscard]] KeyValueFileResult ReadKeyValueFile(const std::string& path, const char* header,
                                                  std::uint32_t version,
                                                  std::map<std::string, std::uint32_t>& values);

// Writes `values` under `header`, in their order, atomically. False when
// the file could not be replaced (the old one is then as it was).
[[nodiscard]] bool WriteKeyValueFile(const std::string& path, const char* header,
                                     const KeyValues& values);

// The choices of a run as the files keep them: the keys "etf", "reit",
// "prime", "standard", "growth", "other", "splits", "margin" and "archive",
// 0 or 1 each. TakeChoices reads them back from `values`; false when one is
// missing or not 0 or 1 (`choices` is then unchanged).
constexpr std::size_t kChoiceKeyCount = 9;
void AddChoices(const CRunChoices& choices, KeyValues& values);
[[nodiscard]] bool TakeChoices(const std::map<std::string, std::uint32_t>& values,
                               CRunChoices& choices);

// The period of a run as the files keep it: "first" (its first date),
// "today", "hour" and "minute" (its clock reading). AddPeriod appends
// them; TakePeriod reads them back, false when one is missing, a date is
// no real day from 1900 on, the time is out of range or today is before
// the first date (the outputs are then unchanged).
void AddPeriod(const CDate& first, const CLocalTime& reading, KeyValues& values);
[[nodiscard]] bool TakePeriod(const std::map<std::string, std::uint32_t>& values, CDate& first,
                              CLocalTime& reading);

#endif  // TICKORA_SETUP_KEY_VALUE_FILE_H_
