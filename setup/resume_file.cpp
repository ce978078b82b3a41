#include "setup/resume_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <map>
#include <sstream>
#include <vector>

#include "support/replace_file.h"

namespace {

constexpr char kHeader[] = "[TickoraSetupResume]";
// A position file is a few hundred bytes and a code list well under a
// megabyte: anything larger is not one of ours.
constexpr std::size_t kMaxFileBytes = 4 << 20;

// The keys in the order they are written; every one must be present.
const char* const kKeys[] = {
    "version", "stage",  "index",  "etf",    "reit",   "prime",
    "standard", "growth", "other",  "splits", "margin", "archive",
    "first",   "today",  "hour",   "minute", "issues", "issuehash"};

bool ParseNumber(const std::string& text, std::uint32_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

bool ParseDate(std::uint32_t number, CDate& date) {
  return number >= 19000101 && date.FromNumber(number) &&
         date.day <= CDate::DaysInMonth(date.month, date.year);
}

enum class ReadResult { kOk, kMissing, kFailed };

// Reads a whole small file without following a link at `path`.
ReadResult ReadSmallFile(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
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
  return ok ? ReadResult::kOk : ReadResult::kFailed;
}

}  // namespace

std::string ResumeFilePath(const std::string& folder) {
  return folder + "/" + "setup-resume.ini";
}

std::string ResumeCodesPath(const std::string& folder) {
  return folder + "/" + "setup-resume-codes.txt";
}

std::uint32_t HashIssueList(const std::vector<std::string>& codes) {
  std::uint32_t hash = 2166136261u;
  auto add = [&hash](unsigned char c) {
    hash ^= c;
    hash *= 16777619u;
  };
  for (const std::string& code : codes) {
    for (char c : code) add(static_cast<unsigned char>(c));
    add('\n');
  }
  return hash;
}

bool WriteResumeFile(const std::string& path, const CResumePosition& p) {
  const CRunChoices& c = p.choices;
  const std::uint32_t values[] = {
      static_cast<std::uint32_t>(CResumePosition::kVersion),
      static_cast<std::uint32_t>(p.stage),
      static_cast<std::uint32_t>(p.resumeIndex),
      c.etf, c.reit, c.prime, c.standard, c.growth, c.otherMarkets,
      c.splits, c.margin, c.useArchive,
      p.firstDate.ToNumber(), p.reading.date.ToNumber(),
      static_cast<std::uint32_t>(p.reading.hour),
      static_cast<std::uint32_t>(p.reading.minute),
      static_cast<std::uint32_t>(p.issueCount), p.issueHash};
  std::string text = std::string(kHeader) + "\n";
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    char number[16];
    auto [end, ec] = std::to_chars(number, number + sizeof number, values[i]);
    text += std::string(kKeys[i]) + "=" + std::string(number, end) + "\n";
  }
  return ReplaceFileWith(path, text);
}

ResumeFileResult ReadResumeFile(const std::string& path, CResumePosition& position) {
  std::string text;
  const ReadResult got = ReadSmallFile(path, text);
  if (got == ReadResult::kMissing) return ResumeFileResult::kMissing;
  if (got != ReadResult::kOk) return ResumeFileResult::kDamaged;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return ResumeFileResult::kDamaged;
  std::map<std::string, std::uint32_t> values;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    std::uint32_t value = 0;
    if (equals == std::string::npos ||
        !ParseNumber(line.substr(equals + 1), value) ||
        !values.emplace(line.substr(0, equals), value).second) {
      return ResumeFileResult::kDamaged;
    }
  }
  // The version is judged first: a file of another version may well have
  // other keys.
  auto version = values.find("version");
  if (version == values.end()) return ResumeFileResult::kDamaged;
  if (version->second != static_cast<std::uint32_t>(CResumePosition::kVersion)) {
    return ResumeFileResult::kOtherVersion;
  }
  if (values.size() != std::size(kKeys)) return ResumeFileResult::kDamaged;
  for (const char* key : kKeys) {
    if (values.count(key) == 0) return ResumeFileResult::kDamaged;
  }
  for (const char* flag : {"etf", "reit", "prime", "standard", "growth", "other",
                           "splits", "margin", "archive"}) {
    if (values[flag] > 1) return ResumeFileResult::kDamaged;
  }
  CResumePosition read;
  if (values["stage"] < kStageIssues || values["stage"] > kStageMargin || values["index"] > INT32_MAX ||
      values["issues"] > INT32_MAX || values["hour"] > 23 || values["minute"] > 59 ||
      !ParseDate(values["first"], read.firstDate) ||
      !ParseDate(values["today"], read.reading.date) ||
      read.reading.date < read.firstDate) {
    return ResumeFileResult::kDamaged;
  }
  // A stage the run's own choices leave out is never where it stopped.
  if ((values["stage"] == kStageSplits && values["splits"] == 0) ||
      (values["stage"] == kStageMargin && values["margin"] == 0)) {
    return ResumeFileResult::kDamaged;
  }
  read.stage = static_cast<std::int32_t>(values["stage"]);
  read.resumeIndex = static_cast<std::int32_t>(values["index"]);
  read.reading.hour = static_cast<int>(values["hour"]);
  read.reading.minute = static_cast<int>(values["minute"]);
  read.issueCount = static_cast<std::int32_t>(values["issues"]);
  read.issueHash = values["issuehash"];
  CRunChoices& c = read.choices;
  c.etf = values["etf"];
  c.reit = values["reit"];
  c.prime = values["prime"];
  c.standard = values["standard"];
  c.growth = values["growth"];
  c.otherMarkets = values["other"];
  c.splits = values["splits"];
  c.margin = values["margin"];
  c.useArchive = values["archive"];
  position = read;
  return ResumeFileResult::kOk;
}

bool WriteCodeListFile(const std::string& path, const std::vector<std::string>& codes) {
  std::string text;
  for (const std::string& code : codes) {
    // A code with a line break could not be read back as one code.
    if (code.find('\n') != std::string::npos) return false;
    text += code + "\n";
  }
  return ReplaceFileWith(path, text);
}

bool ReadCodeListFile(const std::string& path, std::vector<std::string>& codes) {
  std::string text;
  if (ReadSmallFile(path, text) != ReadResult::kOk) return false;
  if (!text.empty() && text.back() != '\n') return false;  // cut short
  codes.clear();
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    codes.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

void RemoveResumeFiles(const std::string& folder) {
  unlink(ResumeFilePath(folder).c_str());
  unlink(ResumeCodesPath(folder).c_str());
}
