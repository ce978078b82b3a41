// tickora-setup-cli: the setup run without a window. It runs the same
// CSetupRun as the wizard on a worker thread, shows the progress record
// on standard error and turns SIGINT and SIGTERM into the record's cancel.

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/progress_line.h"
#include "setup/setup_record.h"
#include "setup/setup_run.h"
#include "setup/folder_lock.h"
#include "setup/resume_file.h"
#include "setup/run_options.h"
#include "support/app_paths.h"
#include "support/cp932.h"
#include "support/date.h"
#include "web/local_clock.h"

namespace {

// The project's version, from the top CMakeLists.txt.
constexpr char kVersion[] = "tickora-setup-cli " TICKORA_SETUP_VERSION;

volatile sig_atomic_t g_stopSignal = 0;
// The run's cancel flag once the run exists: the handler sets it itself, so
// the run stops at the very next issue or request rather than at the next
// look of the display loop. Lock-free atomics may be used in a handler.
std::atomic<std::atomic<std::uint8_t>*> g_cancelFlag{nullptr};

void OnStopSignal(int signal_number) {
  g_stopSignal = signal_number;
  if (std::atomic<std::uint8_t>* cancel = g_cancelFlag.load()) cancel->store(1);
  // A second Ctrl-C ends the process at once.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal_number, &action, nullptr);
}

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) {
    return size.ws_col;
  }
  return 80;
}

struct FileCounts {
  int charts = 0;
  int margins = 0;
  std::vector<std::string> quickFiles;
};

// The chart and margin files and the quick files in the run's folders.
FileCounts CountFiles(const CSetupRun& run) {
  FileCounts counts;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(run.DailyFolder(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name == "quick2.dat") counts.quickFiles.push_back(name);
    else if (entry.path().extension() == ".dat") ++counts.charts;
  }
  for (const auto& entry : std::filesystem::directory_iterator(run.MarginFolder(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name == "quickmg2.dat") counts.quickFiles.push_back(name);
    else if (name.rfind("mg", 0) == 0 && entry.path().extension() == ".dat") ++counts.margins;
  }
  return counts;
}

std::string Where(const CSetupRun& run, const WorkerProgress& progress) {
  const std::int32_t stage = progress.stage;
  const std::int32_t index = progress.resumeIndex;
  std::string text = StageName(stage);
  if (stage >= kStageIssues && stage <= kStageMargin) {
    text += " の " + std::to_string(index + 1) + " 件目";
    if (stage >= kStageSplits && index < static_cast<std::int32_t>(run.IssueList().size())) {
      text += " (銘柄コード " + TerminalText(run.IssueList()[index]) + ")";
    }
  }
  return text;
}

// Prints a refusal of the command line: one line, nothing touched.
int Refuse(const std::string& folder, const std::string& what) {
  std::fprintf(stderr, "tickora-setup-cli: '%s' %s\n", folder.c_str(), what.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // The handlers come first: a stop signal at any moment from here on ends
  // the program with 130 and a word, never by the signal's default action.
  InstallStopHandlers();
  std::setlocale(LC_ALL, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The run's one reading of the clock, for a fresh run.
  const CLocalTime now = SystemLocalTime();
  CCliOptions options;
  std::string error;
  if (!ParseCliOptions(args, static_cast<std::int32_t>(now.date.year), options, error)) {
    std::fprintf(stderr, "tickora-setup-cli: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(CliUsage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s\n", kVersion);
    return 0;
  }

  // One run per folder: the folder is locked before anything in it is
  // read or written, and stays locked until this process ends. A fresh run
  // makes the folder itself first (its parent exists: the options said so).
  std::error_code ec;
  if (!options.resume && !options.update && !std::filesystem::is_directory(options.folder, ec) &&
      !std::filesystem::create_directory(options.folder, ec)) {
    std::fprintf(stderr, "tickora-setup-cli: %s\n%s\n",
                 "データベースフォルダを作成できませんでした",
                 (ec.message() + " (" + options.folder + ")").c_str());
    return 1;
  }
  CFolderLock lock;
  if (std::filesystem::is_directory(options.folder, ec)) {
    const CFolderLock::Result locked = lock.Lock(options.folder);
    if (locked == CFolderLock::Result::kBusy) {
      return Refuse(options.folder, "is in use by another setup run (setup.lock is locked); "
                                    "wait until it ends");
    }
    if (locked == CFolderLock::Result::kFailed) {
      std::fprintf(stderr, "tickora-setup-cli: cannot lock '%s': %s\n", options.folder.c_str(),
                   Utf8FromCp932(lock.Error()).c_str());
      return 1;
    }
  }

  // An interrupted run keeps its position in the folder. A new run would
  // throw away the database it has built so far, so one is only started
  // into such a folder once the user has removed it; --resume continues.
  const std::string position_path = ResumeFilePath(options.folder);
  CResumePosition position;
  ResumeFileResult read = ReadResumeFile(position_path, position);
  const char* refusal = nullptr;
  if (options.resume) {
    if (read == ResumeFileResult::kMissing) {
      refusal = "holds no interrupted setup to resume (no setup-resume.ini)";
    } else if (read == ResumeFileResult::kOtherVersion) {
      refusal = "holds an interrupted setup of another version of tickora-setup-cli, "
                "which this one cannot continue; delete the folder to start afresh";
    } else if (read == ResumeFileResult::kDamaged) {
      // Where the run stopped is lost (a cut or emptied position file):
      // nothing in the folder proves a later stage, so the setup starts
      // again from the beginning with the command line's choices, which
      // loses nothing that cannot be fetched again.
      std::fprintf(stderr, "tickora-setup-cli: '%s': setup-resume.ini is damaged; the setup "
                           "starts again from the beginning\n", options.folder.c_str());
    } else if (!TakeResumeChoices(position, options, error)) {
      std::fprintf(stderr, "tickora-setup-cli: %s\n", error.c_str());
      return 2;
    }
  } else if (read == ResumeFileResult::kDamaged) {
    refusal = "holds an interrupted setup whose setup-resume.ini is damaged: run again "
              "with --resume to start it again from the beginning, or delete the folder";
  } else if (read != ResumeFileResult::kMissing) {
    refusal = "holds an interrupted setup: continue it with --resume, "
              "or delete the folder to start afresh";
  }
  if (refusal != nullptr) return Refuse(options.folder, refusal);
  const bool resume = options.resume && read == ResumeFileResult::kOk;

  // An update brings forward what a finished setup (or update) left, with
  // the choices it recorded.
  CSetupRecord record;
  if (options.update) {
    switch (ReadSetupRecord(SetupRecordPath(options.folder), record)) {
      case SetupRecordResult::kOk:
        break;
      case SetupRecordResult::kMissing:
        return Refuse(options.folder, "holds no finished setup to update (no setup-record.ini); "
                                      "run a setup into it first");
      case SetupRecordResult::kOtherVersion:
        return Refuse(options.folder, "was set up by another version of tickora-setup-cli, "
                                      "which this one cannot update; run a new setup");
      case SetupRecordResult::kDamaged:
        return Refuse(options.folder, "holds a setup-record.ini that does not read; "
                                      "run a new setup");
    }
    options.etf = record.choices.etf;
    options.reit = record.choices.reit;
    options.prime = record.choices.prime;
    options.standard = record.choices.standard;
    options.growth = record.choices.growth;
    options.other = record.choices.otherMarkets;
    options.splits = record.choices.splits;
    options.margin = record.choices.margin;
    options.archive = record.choices.useArchive;
    options.fromYear = static_cast<std::int32_t>(record.firstDate.year);
    options.gapTolerance = record.gapTolerance;
  }

  CRunChoices choices;
  // Paths are byte strings handed to the file system as they are: the
  // folder keeps the bytes the user typed.
  choices.databaseFolder = options.folder;
  choices.etf = options.etf;
  choices.reit = options.reit;
  choices.prime = options.prime;
  choices.standard = options.standard;
  choices.growth = options.growth;
  choices.otherMarkets = options.other;
  choices.splits = options.splits;
  choices.margin = options.margin;
  choices.useArchive = options.archive;

  CSetupRun run(&choices);
  run.SetGapTolerance(options.gapTolerance);
  run.KeepPositionFile(true);
  WorkerProgress progress;
  if (resume) {
    run.ContinueFrom(position);
    std::string reason;
    if (!run.CheckResume(position, reason)) return Refuse(options.folder, reason);
    progress.ResetForResume();
    progress.stage = position.stage;
    progress.resumeIndex = position.resumeIndex;
  } else {
    run.SetPeriod(options.update ? record.firstDate : CDate(options.fromYear, 1, 1), now);
    run.SetUpdate(options.update);
    progress.ResetForFreshRun();
  }

  g_cancelFlag = &progress.cancel;
  if (g_stopSignal != 0) {
    std::fprintf(stderr, "tickora-setup-cli: 開始前に中断しました。\n");
    return 130;
  }
  const bool terminal = isatty(STDERR_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  std::atomic<bool> finished{false};
  std::thread worker([&] {
    // The stop signals go to the main thread, so that no call of the run
    // is interrupted by them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    // The run turns its own exceptions into a failure; this is the last
    // guard, so that none ends the program with the folder half written.
    try {
      run.Run(progress);
    } catch (...) {
      progress.SetError(Cp932FromUtf8("予期しないエラーが発生したので処理を中断します。"));
    }
    finished = true;
  });

  bool cancel_sent = false;
  double last_plain = -1;
  std::int32_t last_stage = -1;
  while (!finished) {
    if (g_stopSignal != 0 && !cancel_sent) {
      progress.cancel = 1;  // set by the handler already
      cancel_sent = true;
      std::fprintf(stderr, "%sキャンセルしています。処理中の銘柄が終わるまでお待ちください…\n",
                   terminal && !options.quiet ? "\r\x1b[K" : "");
    }
    if (!options.quiet && !cancel_sent) {
      const double now = elapsed();
      const std::string status = TerminalText(progress.Status());
      if (terminal) {
        const std::string line = FormatProgressLine(progress.stage, progress.done, progress.total,
                                                    now, status, 20, TerminalColumns() - 1);
        std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        std::fflush(stderr);
      } else if (last_plain < 0 || now - last_plain >= 5 || progress.stage != last_stage) {
        // A line every few seconds, and one as each stage begins.
        last_plain = now;
        last_stage = progress.stage;
        std::fprintf(stderr, "%s\n",
                     FormatProgressLine(progress.stage, progress.done, progress.total, now,
                                        status, 20, 400).c_str());
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  worker.join();
  if (terminal && !options.quiet && !cancel_sent) std::fputs("\r\x1b[K", stderr);

  const std::string folder = options.folder;
  if (progress.stage == kStageFinished) {
    // As the wizard does: the per-user data folder holds data of the old
    // database.
    RemoveUserDataFolder();
    std::vector<std::string> codes;
    // The folder is complete all the same; only the count on the line below
    // is then wrong, and this says so.
    if (!run.Database().GetCodesFrom(codes, "")) {
      std::fputs("tickora-setup-cli: 登録した銘柄の数を読み込めませんでした。\n", stderr);
    }
    const FileCounts files = CountFiles(run);
    std::string quick;
    for (const std::string& name : files.quickFiles) {
      quick += (quick.empty() ? "" : "、") + name;
    }
    // What the sources sent that no file or row may hold is left out and
    // said, never stored: codes that break the code rule, records that are
    // no real day or no finite number, repeated or out of order.
    std::string refused;
    if (run.RejectedCodes() > 0) {
      refused += "不正なコードの銘柄 " + std::to_string(run.RejectedCodes()) + " 件を除外しました。";
    }
    if (run.RefusedRecords() > 0) {
      refused += "不正なデータ " + std::to_string(run.RefusedRecords()) + " 件を除外しました。";
    }
    std::printf(
        "%sが完了しました。銘柄 %zu 件をデータベースに登録し、"
        "チャートファイル %d 個、信用残ファイル %d 個、クイックファイル %s を書き出しました"
        "(%d年1月1日から%u年%u月%u日まで、所要時間 %s)。%sデータベースフォルダ: %s\n",
        run.IsUpdate() ? "更新" : "セットアップ", codes.size(), files.charts, files.margins,
        quick.empty() ? "なし" : quick.c_str(),
        options.fromYear, run.Today().year, run.Today().month, run.Today().day,
        FormatDuration(elapsed()).c_str(), refused.c_str(), folder.c_str());
    return 0;
  }
  // A run that stopped before its first stage kept no position.
  const bool kept = std::filesystem::exists(position_path, ec);
  const std::string run_error = progress.Error();
  if (!run_error.empty()) {
    std::fprintf(stderr, "tickora-setup-cli: %s で失敗しました。\n%s\n%s",
                 Where(run, progress).c_str(), TerminalText(run_error, true).c_str(),
                 kept ? "原因を取り除いてから --resume で続きから再開できます。\n" : "");
    return 1;
  }
  std::fprintf(stderr,
               "tickora-setup-cli: %s で中断しました。ここまでのデータは %s に残っています。%s\n",
               Where(run, progress).c_str(), folder.c_str(),
               kept ? "--resume で続きから再開できます。" : "");
  return 130;
}
