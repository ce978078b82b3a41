// fuzz_seed_replay SEEDS [TARGET=FOLDER...]: feeds every file of
// SEEDS/<target>/, and of each FOLDER named for a target, to that fuzz
// target's entry point, in name order, naming each input before it runs so
// that an abort shows which one broke a promise. Fails when a folder has no
// target or no files, or a file cannot be read.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "replay_targets.h"

namespace fs = std::filesystem;

namespace {

// The targets' temporary files (fuzz/fuzz_files.h) are named after the
// process; they go when the replay ends.
void RemoveTemporaryFiles() {
  const std::string prefix = "tickora-fuzz-" + std::to_string(getpid()) + "-";
  for (const char* folder : {"/dev/shm", "/tmp"}) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      if (entry.path().filename().string().rfind(prefix, 0) == 0) fs::remove_all(entry.path(), error);
    }
  }
}

// Feeds every regular file of `folder` to the target named `name`; answers
// the number of failures.
int Replay(const std::string& name, const fs::path& folder) {
  const ReplayTarget* target = std::find_if(std::begin(kReplayTargets), std::end(kReplayTargets),
                                            [&](const ReplayTarget& t) { return name == t.name; });
  if (target == std::end(kReplayTargets)) {
    std::fprintf(stderr, "%s: no fuzz target of that name in this build\n", name.c_str());
    return 1;
  }
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& file : fs::directory_iterator(folder, error)) {
    if (file.is_regular_file()) files.push_back(file.path());
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "%s: no inputs in %s\n", name.c_str(), folder.c_str());
    return 1;
  }
  int failures = 0;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot read\n", file.c_str());
      ++failures;
      continue;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::printf("%s/%s (%zu bytes)\n", name.c_str(), file.filename().c_str(), bytes.size());
    std::fflush(stdout);
    target->entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SEEDS-FOLDER [TARGET=FOLDER...]\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  int failures = 0;
  std::error_code error;
  for (const auto& folder : fs::directory_iterator(root, error)) {
    if (folder.is_directory()) failures += Replay(folder.path().filename().string(), folder.path());
  }
  if (error) {
    std::fprintf(stderr, "%s: %s\n", root.c_str(), error.message().c_str());
    ++failures;
  }
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    if (equals == std::string::npos) {
      std::fprintf(stderr, "%s: not TARGET=FOLDER\n", arg.c_str());
      ++failures;
      continue;
    }
    failures += Replay(arg.substr(0, equals), arg.substr(equals + 1));
  }
  RemoveTemporaryFiles();
  return failures == 0 ? 0 : 1;
}
