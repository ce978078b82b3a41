#ifndef TICKORA_APP_COMMAND_LINE_H_
#define TICKORA_APP_COMMAND_LINE_H_

#include <cstdint>
#include <string>
#include <vector>

// The two optional words the wizard takes after the program name: the
// database folder (which skips the folder pages) and the gap tolerance of
// the quick price file.
//
// The words arrive already split by the shell, so a folder with a space in
// it can be quoted; the words themselves are read exactly as written. They
// are not split again at spaces: a quoted "/home/u/My Data" cut to
// "/home/u/My" would have the run rebuild the database in another, possibly
// existing folder, and with a folder on the command line nothing asks first.
struct CWizardCommandLine {
  // The first word as the file system spells it; empty when there is none.
  std::string folderOverride;
  // The second word read as a signed decimal; 20 when there is none.
  std::int32_t gapTolerance = 20;
};

// `words` are the arguments after the program name; words past the second
// are ignored.
CWizardCommandLine ParseWizardCommandLine(const std::vector<std::string>& words);

// The same from the program's arguments as QApplication leaves them (its own
// options taken out); argv[0] is the program's name. The words are taken as
// the bytes they are: a folder name that is not valid in the locale's
// encoding would not survive a trip through QString.
CWizardCommandLine ParseWizardCommandLine(int argc, const char* const* argv);

// Reads a signed decimal integer the way the C library's atoi does: leading
// white space, then an optional sign, then digits up to the first other
// character. No digit gives 0. A value beyond 32 bits is held at the nearest
// limit.
std::int32_t ReadSignedDecimal(const std::string& word);

#endif  // TICKORA_APP_COMMAND_LINE_H_
