#ifndef TICKORA_TESTS_CLI_CLI_PROCESS_H_
#define TICKORA_TESTS_CLI_CLI_PROCESS_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/common/temp_dir.h"

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// tickora-setup-cli started with `args`, its output going to "out.txt" and
// "err.txt" in `dir` (or `err` for standard error when given).
class CliProcess {
 public:
  CliProcess(const TempDir& dir, const std::vector<std::string>& args,
             const std::string& err = std::string())
      : out_(dir.Sub("out.txt")), err_(err.empty() ? dir.Sub("err.txt") : err) {
    pid_ = fork();
    if (pid_ == 0) {
      dup2(open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      dup2(open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      std::vector<char*> argv{const_cast<char*>(TICKORA_CLI_PATH)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(TICKORA_CLI_PATH, argv.data());
      _exit(127);
    }
  }
  void Signal(int number) { kill(pid_, number); }
  // The exit status, 128 + the signal's number when one ended it; -1 while
  // the program runs and `hang` is false.
  int Wait(bool hang = true) {
    int raw = 0;
    rusage usage{};
    if (status_ < 0 && wait4(pid_, &raw, hang ? 0 : WNOHANG, &usage) == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      peakKb_ = usage.ru_maxrss;
    }
    return status_;
  }
  // The program's peak resident size in KiB, once it has ended.
  long PeakKb() const { return peakKb_; }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }

 private:
  std::string out_, err_;
  pid_t pid_;
  int status_ = -1;
  long peakKb_ = 0;
};

#endif  // TICKORA_TESTS_CLI_CLI_PROCESS_H_
