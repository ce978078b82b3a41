#include "setup/key_value_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
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

SmallFileRead ReadKeyValueFile(const std::string& path, const char* header,
                               std::map<std::string, std::uint32_t>& values) {
  std::string text;
  const SmallFileRead got = ReadSmallFile(path, text);
  if (got != SmallFileRead::kOk) return got;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != header) return SmallFileRead::kFailed;
  values.clear();
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    std::uint32_t value = 0;
    if (equals == std::string::npos || !ParseNumber(line.substr(equals + 1), value) ||
        !values.emplace(line.substr(0, equals), value).second) {
      return SmallFileRead::kFailed;
    }
  }
  return SmallFileRead::kOk;
}

bool WriteKeyValueFile(const std::string& path, const char* header,
                       const std::vector<std::pair<const char*, std::uint32_t>>& values) {
  std::string text = std::string(header) + "\n";
  for (const auto& [key, value] : values) {
    char number[16];
    auto [end, ec] = std::to_chars(number, number + sizeof number, value);
    text += std::string(key) + "=" + std::string(number, end) + "\n";
  }
  return ReplaceFileWith(path, text);
}

bool ParseFileDate(std::uint32_t number, CDate& date) {
  return number >= 19000101 && date.FromNumber(number) &&
         date.day <= CDate::DaysInMonth(date.month, date.year);
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
