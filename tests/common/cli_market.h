#ifndef TICKORA_TESTS_COMMON_CLI_MARKET_H_
#define TICKORA_TESTS_COMMON_CLI_MARKET_H_

// tickora-setup-cli as a program (the test target defines TICKORA_CLI_PATH),
// run against a simulated market served in the test's process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "setup/resume_file.h"
#include "tests/common/sim_market_fixture.h"

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
  std::string Out() const { return FileBytes(out_); }
  std::string Err() const { return FileBytes(err_); }

 private:
  std::string out_, err_;
  pid_t pid_;
  int status_ = -1;
  long peakKb_ = 0;
};

// The market served from SetUp, its addresses and a settings folder of the
// test's own in the programs' environment, and what the runs are given.
class CliMarketTest : public SimMarketFixture {
 protected:
  // A market of `issues` issues from `seed`, dated `today` (by default the
  // real today, which the front end takes for its own), with a history from
  // `firstYear` (by default the year before).
  CliMarketTest(std::uint64_t seed, std::int32_t issues, const CDate& today = CDate::Today(),
                std::uint32_t firstYear = 0)
      : firstYear_(firstYear ? firstYear : today.year - 1),
        market_({.seed = seed, .issueCount = issues, .firstYear = firstYear_, .today = today}) {}

  void SetUp() override {
    Serve(market_);
    Env("XDG_CONFIG_HOME", dir_.Sub("config"));
  }
  void Env(const char* name, const std::string& value) {
    env_.push_back(std::make_unique<ScopedEnv>(name, value.c_str()));
  }
  // Adds faults written as the simulator's option takes them.
  void Faults(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) AddFault(text);
  }
  // Every kind of issue with margin balances from the market's first year
  // into `folder`, printing no progress.
  std::vector<std::string> Args(const std::string& folder, bool archive = true) const {
    std::vector<std::string> args = {"--from-year", std::to_string(firstYear_), "--kinds",
                                     "etf,reit,prime,standard,growth,other", "--margin",
                                     "--quiet", folder};
    if (!archive) args.insert(args.begin(), "--no-archive");
    return args;
  }
  std::vector<std::string> Resume(const std::string& folder) const {
    return {"--resume", "--quiet", folder};
  }
  // Runs tickora-setup-cli with `args` to its end: a failure names its exit
  // status and error output unless it succeeded.
  ::testing::AssertionResult Finishes(const std::vector<std::string>& args) {
    CliProcess cli(dir_, args);
    if (cli.Wait() == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit " << cli.Wait() << ": " << cli.Err();
  }
  // Runs into `folder` until its position reaches `stage` at `index` or
  // later, calls `at` then (with the position), and waits for the end.
  int RunUntil(const std::vector<std::string>& args, const std::string& folder,
               std::int32_t stage, std::int32_t index,
               const std::function<void(CliProcess&, const CResumePosition&)>& at,
               std::string* err = nullptr) {
    CliProcess cli(dir_, args);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    CResumePosition p;
    while (cli.Wait(false) < 0 && std::chrono::steady_clock::now() < give_up) {
      if (ReadResumeFile(ResumeFilePath(folder), p) == ResumeFileResult::kOk &&
          (p.stage > stage || (p.stage == stage && p.resumeIndex >= index))) {
        at(cli, p);
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const int status = cli.Wait();
    if (err != nullptr) *err = cli.Err();
    return status;
  }
  // RunUntil with a kill there, which must come while the run is still in
  // `stage`; the position it was killed at goes to `killed`.
  int KillAt(const std::vector<std::string>& args, const std::string& folder, std::int32_t stage,
             std::int32_t index, CResumePosition* killed = nullptr, std::string* err = nullptr) {
    return RunUntil(args, folder, stage, index, [&](CliProcess& cli, const CResumePosition& p) {
      cli.Signal(SIGKILL);
      EXPECT_EQ(stage, p.stage) << "killed too late";
      if (killed != nullptr) *killed = p;
    }, err);
  }

  const std::uint32_t firstYear_;
  TempDir dir_;
  CSimMarket market_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
};

#endif  // TICKORA_TESTS_COMMON_CLI_MARKET_H_
