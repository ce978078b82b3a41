#include "setup/resume_file.h"

#include <unistd.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <vector>

#include "setup/key_value_file.h"
#include "support/replace_file.h"

namespace {

constexpr char kHeader[] = "[TickoraSetupResume]";

// Every key of a position: these and the choice keys (key_value_file.h).
const char* const kKeys[] = {"version", "stage",  "index",  "first",
                             "today",   "hour",   "minute", "issues", "issuehash"};

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
  KeyValues pairs = {{"version", CResumePosition::kVersion},
                     {"stage", static_cast<std::uint32_t>(p.stage)},
                     {"index", static_cast<std::uint32_t>(p.resumeIndex)}};
  AddChoices(p.choices, pairs);
  AddPeriod(p.firstDate, p.reading, pairs);
  pairs.insert(pairs.end(), {{"issues", static_cast<std::uint32_t>(p.issueCount)},
                             {"issuehash", p.issueHash}});
  // Only an update says so: a setup's position is written as it always was.
  if (p.update) pairs.emplace_back("update", 1);
  return WriteKeyValueFile(path, kHeader, pairs);
}

ResumeFileResult ReadResumeFile(const std::string& path, CResumePosition& position) {
  std::map<std::string, std::uint32_t> values;
  const ResumeFileResult got = ReadKeyValueFile(path, kHeader, CResumePosition::kVersion, values);
  if (got != ResumeFileResult::kOk) return got;
  CResumePosition read;
  const auto update = values.find("update");
  read.update = update != values.end() && update->second == 1;
  if (values.size() != std::size(kKeys) + kChoiceKeyCount + (update != values.end()) ||
      (update != values.end() && update->second != 1) || !TakeChoices(values, read.choices) ||
      !TakePeriod(values, read.firstDate, read.reading)) {
    return ResumeFileResult::kDamaged;
  }
  for (const char* key : kKeys) {
    if (values.count(key) == 0) return ResumeFileResult::kDamaged;
  }
  if (values["stage"] < kStageIssues || values["stage"] > kStageMargin ||
      values["index"] > INT32_MAX || values["issues"] > INT32_MAX) {
    return ResumeFileResult::kDamaged;
  }
  // A stage the run's own choices leave out is never where it stopped.
  if ((values["stage"] == kStageSplits && values["splits"] == 0) ||
      (values["stage"] == kStageMargin && values["margin"] == 0)) {
    return ResumeFileResult::kDamaged;
  }
  read.stage = static_cast<std::int32_t>(values["stage"]);
  read.resumeIndex = static_cast<std::int32_t>(values["index"]);
  read.issueCount = static_cast<std::int32_t>(values["issues"]);
  read.issueHash = values["issuehash"];
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
  if (ReadSmallFile(path, text) != SmallFileRead::kOk) return false;
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
