#ifndef TICKORA_TESTS_COMMON_TEMP_DIR_H_
#define TICKORA_TESTS_COMMON_TEMP_DIR_H_

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "tests/common/file_bytes.h"

// A fresh, empty folder under the temporary folder, removed with everything
// in it when the object goes.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("tickora-test-" + std::to_string(getpid()) + "-" +
             std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string Sub(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string FileBytes(const std::string& path) { return ReadBytes(path); }

#endif  // TICKORA_TESTS_COMMON_TEMP_DIR_H_
