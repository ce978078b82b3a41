#include "series/temp_file.h"

#include <unistd.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "support/app_paths.h"

namespace {

void DeleteFile(const std::string& path) {
  if (!path.empty()) unlink(path.c_str());
}

// A new empty file with a unique name in the temporary folder, or an empty
// text when none can be created.
std::string MakeUniqueFile() {
  std::string pattern = TempFolder() + "tickora-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return std::string();
  close(fd);
  return std::string(name.data());
}

}  // namespace

CTempFile::CTempFile(std::string path) : String(std::move(path)) {}

CTempFile::~CTempFile() { DeleteFile(*this); }

const char* CTempFile::Assign(std::string path) {
  DeleteFile(*this);
  if (path.empty()) path = MakeUniqueFile();
  std::string::operator=(std::move(path));
  return c_str();
}
