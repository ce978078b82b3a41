#ifndef TICKORA_FUZZ_FUZZ_FILES_H_
#define TICKORA_FUZZ_FUZZ_FILES_H_

// What the fuzz targets share: the readers under test take paths, so each
// input goes through a few files of the process's own.
//
// The files live in /dev/shm when it can be written, else in /tmp, and
// every write starts from a removed file. A disk file system that sees a
// file truncated and written again starts writing it back at every close
// (ext4's auto_da_alloc); with three files an input that was most of the
// time of a run.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A path of this process for the file `name`.
inline std::string TempPath(const char* name) {
  const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(folder) + "/tickora-fuzz-" + std::to_string(getpid()) +
         "-" + name;
}

// Removes the file at `path`, so that the next writer makes a new one.
inline void Fresh(const std::string& path) { unlink(path.c_str()); }

inline bool WriteBytes(const std::string& path, const uint8_t* data,
                       size_t size) {
  Fresh(path);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

inline std::string ReadBytes(const std::string& path) {
  std::string bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    bytes.append(buffer, got);
  }
  std::fclose(file);
  return bytes;
}

// Stops the run with a reproducer when a promise is broken.
inline void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace fuzz

#endif  // TICKORA_FUZZ_FUZZ_FILES_H_
