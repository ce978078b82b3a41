#include "setup/key_value_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <sstream>

#include "support/replace_file.h"

namespace {

constexpr std::size_t kMaxFileBytes = 4 << 20;

bool ParseNumber(const std::string& text, std::uint32_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

}  // namespace

SmallFileRead ReadSmallFile(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? SmallFileRead::kMissing : SmallFileRead::kFailed;
  text.clear();
  char buffer[16 * 1024];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxFileBytes) ok = false;
    if (n <= 0 || !ok) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return ok ? SmallFileRead::kOk : SmallFileRead::kFailed;
}

KeyValueFileResult ReadKeyValueFile(const std::string& path, const char* header,
                                    std::uint32_t version,
                                    std::map<std::string, std::uint32_t>& values) {
  std::string text;
  const SmallFileRead got = ReadSmallFile(path, text);
  if (got == SmallFileRead::kMissing) return KeyValueFileResult::kMissing;
  if (got != SmallFileRead::kOk) return KeyValueFileResult::kDamaged;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != header) return KeyValueFileResult::kDamaged;
  values.clear();
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    std::uint32_t value = 0;
    if (equals == std::string::npos || !ParseNumber(line.substr(equals + 1), value) ||
        !values.emplace(line.substr(0, equals), value).second) {
      return KeyValueFileResult::kDamaged;
    }
  }
  const auto found = values.find("version");
  if (found == values.end()) return KeyValueFileResult::kDamaged;
  return found->second == version ? KeyValueFileResult::kOk : KeyValueFileResult::kOtherVersion;
}

bool WriteKeyValueFile(const std::string& path, const char* header, const KeyValues& values) {
  std::string text = std::string(header) + "\n";
  for (const auto& [key, value] : values) {
    char number[16];
    auto [end, ec] = std::to_chars(number, number + sizeof number, value);
    text += std::string(key) + "=" + std::string(number, end) + "\n";
  }
  return ReplaceFileWith(path, text);
}

void AddPeriod(const CDate& first, const CLocalTime& reading, KeyValues& values) {
  values.insert(values.end(), {{"first", first.ToNumber()},
                               {"today", reading.date.ToNumber()},
                               {"hour", static_cast<std::uint32_t>(reading.hour)},
                               {"minute", static_cast<std::uint32_t>(reading.minute)}});
}

bool TakePeriod(const std::map<std::string, std::uint32_t>& values, CDate& first,
                CLocalTime& reading) {
  const auto value = [&values](const char* key) {
    const auto it = values.find(key);
    return it == values.end() ? UINT32_MAX : it->second;
  };
  // A real day from 1900 on.
  const auto day = [](std::uint32_t number, CDate& date) {
    return number >= 19000101 && date.FromNumber(number) &&
           date.day <= CDate::DaysInMonth(date.month, date.year);
  };
  CDate from, today;
  if (value("hour") > 23 || value("minute") > 59 || !day(value("first"), from) ||
      !day(value("today"), today) || today < from) {
    return false;
  }
  first = from;
  reading.date = today;
  reading.hour = static_cast<int>(value("hour"));
  reading.minute = static_cast<int>(value("minute"));
  return true;
}

namespace {

// The choice keys, and where each lives in CRunChoices.
const std::pair<const char*, bool CRunChoices::*> kChoiceKeys[] = {
    {"etf", &CRunChoices::etf},       {"reit", &CRunChoices::reit},
    {"prime", &CRunChoices::prime},   {"standard", &CRunChoices::standard},
    {"growth", &CRunChoices::growth}, {"other", &CRunChoices::otherMarkets},
    {"splits", &CRunChoices::splits}, {"margin", &CRunChoices::margin},
    {"archive", &CRunChoices::useArchive}};

}  // namespace

void AddChoices(const CRunChoices& choices, KeyValues& values) {
  for (const auto& [key, member] : kChoiceKeys) values.emplace_back(key, choices.*member);
}

bool TakeChoices(const std::map<std::string, std::uint32_t>& values, CRunChoices& choices) {
  CRunChoices read = choices;
  for (const auto& [key, member] : kChoiceKeys) {
    const auto it = values.find(key);
    if (it == values.end() || it->second > 1) return false;
    read.*member = it->second == 1;
  }
  choices = read;
  return true;
}
