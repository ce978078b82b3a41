#include "setup/resume_file.h"

#include <charconv>
#include <cstdint>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>
#include <vector>

namespace {

constexpr char kHeader[] = "[TickoraSetupResume]";

// The keys in the order they are written; every one must be present.
const char* const kKeys[] = {
    "version", "stage",  "index", "etf",   "reit",   "prime",
    "standard", "growth", "other", "splits", "margin", "archive",
    "first",   "today",  "issues", "issuehash"};

bool ParseNumber(const std::string& text, std::uint32_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

bool ParseDate(std::uint32_t number, CDate& date) {
  return number >= 19000101 && date.FromNumber(number) &&
         date.day <= CDate::DaysInMonth(date.month, date.year);
}

}  // namespace

bool CResumePosition::SameChoices(const CResumePosition& other) const {
  const CRunChoices& a = choices;
  const CRunChoices& b = other.choices;
  return a.etf == b.etf && a.reit == b.reit && a.prime == b.prime &&
         a.standard == b.standard && a.growth == b.growth &&
         a.otherMarkets == b.otherMarkets && a.splits == b.splits &&
         a.margin == b.margin && a.useArchive == b.useArchive &&
         firstDate == other.firstDate && today == other.today;
}

std::string ResumeFilePath(const std::string& folder) {
  return folder + "/" + "setup-resume.ini";
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
      p.firstDate.ToNumber(), p.today.ToNumber(),
      static_cast<std::uint32_t>(p.issueCount), p.issueHash};
  std::string text = std::string(kHeader) + "\n";
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    char number[16];
    auto [end, ec] = std::to_chars(number, number + sizeof number, values[i]);
    text += std::string(kKeys[i]) + "=" + std::string(number, end) + "\n";
  }
  // No fsync: the file has to survive the process, not the machine. A
  // position lost with the machine leaves an older one (or none), and an
  // older position only makes the next run fetch again what is there.
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) std::filesystem::remove(temp, ec);
  return !ec;
}

ResumeFileResult ReadResumeFile(const std::string& path, CResumePosition& position) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code ec;
    return std::filesystem::exists(path, ec) ? ResumeFileResult::kDamaged
                                             : ResumeFileResult::kMissing;
  }
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
  if (values["stage"] < 1 || values["stage"] > 4 || values["index"] > INT32_MAX ||
      values["issues"] > INT32_MAX || !ParseDate(values["first"], read.firstDate) ||
      !ParseDate(values["today"], read.today) || read.today < read.firstDate) {
    return ResumeFileResult::kDamaged;
  }
  read.stage = static_cast<std::int32_t>(values["stage"]);
  read.resumeIndex = static_cast<std::int32_t>(values["index"]);
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
