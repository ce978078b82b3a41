#ifndef TICKORA_SETUP_RESUME_FILE_H_
#define TICKORA_SETUP_RESUME_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "setup/run_options.h"
#include "support/date.h"

// The position of an interrupted setup run, as kept in the file
// "setup-resume.ini" of the database folder, so that a later process can
// continue the run: the stage and the issue index it stopped at, the choices
// and the period the run was made with, and a check of the issue list that
// stages 2 to 4 work on (its length and a hash of its codes; both 0 while
// stage 1 runs, when there is no list yet).
//
// The file is ASCII "key=value" lines under a "[TickoraSetupResume]"
// header, numbers in plain decimal whatever the locale. It is written to a
// temporary name in the same folder and renamed over the real one, so a
// reader sees either the old position or the new one, never half of one.
struct CResumePosition {
  static constexpr std::int32_t kVersion = 1;

  std::int32_t stage = 0;        // 1 to 4
  std::int32_t resumeIndex = 0;  // 0 or more
  CRunChoices choices;           // databaseFolder is not stored
  CDate firstDate;
  CDate today;
  std::int32_t issueCount = 0;
  std::uint32_t issueHash = 0;

  // True when kinds, splits, margin, archive and period are the same.
  bool SameChoices(const CResumePosition& other) const;
};

// "<folder>/setup-resume.ini".
std::string ResumeFilePath(const std::string& folder);

// Writes the position atomically; false when it could not be written (the
// old file, if any, is then left as it was).
bool WriteResumeFile(const std::string& path, const CResumePosition& position);

enum class ResumeFileResult { kOk, kMissing, kOtherVersion, kDamaged };

// Reads a position file. kOtherVersion for a file written by another
// format version, kDamaged for one that is not a complete, valid position
// (unknown or repeated keys, a value out of range, a missing key).
// `position` is changed only on kOk.
ResumeFileResult ReadResumeFile(const std::string& path,
                                CResumePosition& position);

// FNV-1a over the codes, each followed by a line feed.
std::uint32_t HashIssueList(const std::vector<std::string>& codes);

#endif  // TICKORA_SETUP_RESUME_FILE_H_
