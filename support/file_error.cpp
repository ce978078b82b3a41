#include "support/file_error.h"

#include <langinfo.h>
#include <string.h>

#include "support/cp932.h"

namespace {

struct NotedError {
  int number = 0;
  std::string path;
};

thread_local NotedError noted;

// The system's text for `number` (GNU strerror_r), in the locale's
// messages and characters.
std::string SystemText(int number) {
  char buffer[256];
  return std::string(strerror_r(number, buffer, sizeof buffer));
}

}  // namespace

void NoteFileError(int error_number, const std::string& path) {
  noted.number = error_number;
  noted.path = path;
}

void ClearFileError() {
  noted.number = 0;
  noted.path.clear();
}

int LastFileErrorNumber() { return noted.number; }

std::string LastFileError() {
  if (noted.number == 0) return std::string();
  // Texts inside are CP932; the system's text comes in the locale's
  // characters, and a path as the file system holds it (UTF-8 on any
  // current system). Both are converted so that a Japanese message or
  // folder name comes out right at the terminal or in the window.
  std::string text = SystemText(noted.number);
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && strcmp(codeset, "UTF-8") == 0) text = Cp932FromUtf8(text);
  return text + " (" + Cp932FromUtf8(noted.path) + ")";
}
