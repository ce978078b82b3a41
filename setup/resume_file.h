#ifndef TICKORA_SETUP_RESUME_FILE_H_
#define TICKORA_SETUP_RESUME_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "setup/key_value_file.h"
#include "setup/run_options.h"
#include "setup/worker_progress.h"
#include "support/date.h"
#include "web/local_clock.h"

// The position of an interrupted setup run, as kept in the file
// "setup-resume.ini" of the database folder, so that a later process can
// continue the run: the stage and the issue index it stopped at, the choices
// the run was made with, its first date and its one reading of the clock
// (date, hour and minute: every time rule of the run follows it, so a
// resume continues with it whenever it happens), and a check of the list
// the stage works on (its length and a hash of its codes): stage 1's code
// list, or the issue list of stages 2 to 4.
//
// The file is ASCII "key=value" lines under a "[TickoraSetupResume]"
// header, numbers in plain decimal whatever the locale. It is written to a
// temporary name in the same folder, created anew (an existing file or
// link there is never written through), and renamed over the real one, so
// a reader sees either the old position or the new one, never half of one.
// A link at the real name is not followed when reading.
struct CResumePosition {
  static constexpr std::int32_t kVersion = 2;

  std::int32_t stage = 0;        // a SetupStage, kStageIssues to kStageMargin
  std::int32_t resumeIndex = 0;  // 0 or more
  CRunChoices choices;           // databaseFolder is not stored
  CDate firstDate;
  CLocalTime reading;            // the run's clock; its date is "today"
  std::int32_t issueCount = 0;
  std::uint32_t issueHash = 0;
  // The run brings a finished folder forward (setup_run.h, SetUpdate).
  bool update = false;
};

// "<folder>/setup-resume.ini".
std::string ResumeFilePath(const std::string& folder);

// "<folder>/setup-resume-codes.txt": the code list stage 1 works on, kept
// beside the position while the run is interrupted, so that a resumed
// stage 1 goes on through the same list.
std::string ResumeCodesPath(const std::string& folder);

// Writes the position atomically; false when it could not be written (the
// old file, if any, is then left as it was).
[[nodiscard]] bool WriteResumeFile(const std::string& path, const CResumePosition& position);

using ResumeFileResult = KeyValueFileResult;

// Reads a position file. kOtherVersion for a file written by another
// format version, kDamaged for one that is not a complete, valid position
// (empty, unknown or repeated keys, a value out of range, a missing key, a
// stage the choices leave out, a link instead of a file). `position` is
// changed only on kOk.
ResumeFileResult ReadResumeFile(const std::string& path,
                                CResumePosition& position);

// The code list file: one code a line, written like the position (the
// position file and the code list replace their files as CReplaceFile does). Reading gives false for a missing or unreadable file.
[[nodiscard]] bool WriteCodeListFile(const std::string& path, const std::vector<std::string>& codes);
[[nodiscard]] bool ReadCodeListFile(const std::string& path, std::vector<std::string>& codes);

// Removes the position and the code list. Links are removed, never
// followed.
void RemoveResumeFiles(const std::string& folder);

// FNV-1a over the codes, each followed by a line feed.
[[nodiscard]] std::uint32_t HashIssueList(const std::vector<std::string>& codes);

#endif  // TICKORA_SETUP_RESUME_FILE_H_
