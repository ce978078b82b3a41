#ifndef TICKORA_SETUP_KEY_VALUE_FILE_H_
#define TICKORA_SETUP_KEY_VALUE_FILE_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "setup/run_options.h"
#include "support/date.h"

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

// Reads a key=value file under `header`. kFailed for a file that cannot be
// read, or is not such a file: another header, a line without "=", a value
// that is not a number, a key given twice.
[[nodiscard]] SmallFileRead ReadKeyValueFile(const std::string& path, const char* header,
                                             std::map<std::string, std::uint32_t>& values);

// Writes `values` under `header`, in their order, atomically. False when
// the file could not be replaced (the old one is then as it was).
[[nodiscard]] bool WriteKeyValueFile(const std::string& path, const char* header,
                                     const std::vector<std::pair<const char*, std::uint32_t>>& values);

using KeyValues = std::vector<std::pair<const char*, std::uint32_t>>;

// The choices of a run as the files keep them: the keys "etf", "reit",
// "prime", "standard", "growth", "other", "splits", "margin" and "archive",
// 0 or 1 each. TakeChoices reads them back from `values`; false when one is
// missing or not 0 or 1 (`choices` is then unchanged).
constexpr std::size_t kChoiceKeyCount = 9;
void AddChoices(const CRunChoices& choices, KeyValues& values);
[[nodiscard]] bool TakeChoices(const std::map<std::string, std::uint32_t>& values,
                               CRunChoices& choices);

// A date number of the files: a real day from 1900 on.
[[nodiscard]] bool ParseFileDate(std::uint32_t number, CDate& date);

#endif  // TICKORA_SETUP_KEY_VALUE_FILE_H_
