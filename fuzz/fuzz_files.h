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
#include <cstring>
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

// Saves `map` to `path` without a date and checks that the header's date
// (its bytes 4-7) is today's, either day around midnight. `Date` is the
// product's date class, which this header does not include.
template <class Date, class Map>
void CheckSavedDatedToday(const Map& map, const std::string& path) {
  const uint32_t before = Date::Today().ToNumber();
  Fresh(path);
  if (!map.Save(path)) return;
  uint32_t day = 0;
  std::memcpy(&day, ReadBytes(path).data() + 4, 4);  // a little-endian machine
  Check(day == before || day == Date::Today().ToNumber());
}

}  // namespace fuzz

#endif  // TICKORA_FUZZ_FUZZ_FILES_H_
