// The whole setup run in archive mode against the simulated market, next to
// the plainest way of doing the same input and output: downloading and
// inflating the same archive files with libcurl and zlib, downloading the
// same issue list pages, and writing the same number of bytes into the
// same number of files. The run's time is also given stage by stage.
//
//   setup_run_bench [--issues N] [--first-year Y] [--folder DIR] [--fault SPEC]...
//                   [--update] [--latency MS] [--bandwidth BYTES_PER_S]
//
// --update measures a one-trading-day update instead: the setup is made
// (unmeasured) against the market of the trading day before today, the
// market then moves on to today (one seed and horizon), and the update is
// what is timed and counted, beside downloading and inflating the files it
// asked for and writing the bytes it wrote.
//
// --latency and --bandwidth put the simulated market behind a modelled
// link (market-sim's options of those names), for the run and the plain
// download alike.
//
// --fault makes the simulated market fail as market-sim's option of that
// name does (e.g. gzip-bomb=536870912@archive:/market/archive/v2/price-2024.bin,
// alternating-codes@archive:/market/archive/v2/margin-2024.bin), so that
// the peak memory of the run against a hostile server shows beside its
// bound.
//
// The market is served by a child process (forked before anything else
// starts), so its series and caches do not count in the peak resident
// memory (VmHWM) reported for the run. Every kind of issue, splits and
// margin balances. Prints one report; nothing is asserted.

#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "setup/setup_run.h"
#include "web/web_archive.h"
#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long VmHwmKib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The child: serves the market until SIGTERM, then writes the number of
// requests and the archive files and list pages it served to `report`.
[[noreturn]] void ServeMarket(const CSimMarketOptions& options, const CSimServerOptions& link,
                              const std::string& env_file, const std::string& report,
                              const std::vector<CSimFault>& faults) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  CSimMarket market(options);
  CSimServer server(market, link);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "market: %s\n", error.c_str());
    _exit(1);
  }
  for (const CSimFault& fault : faults) server.AddFault(fault);
  {
    std::ofstream env(env_file + ".part");
    for (const auto& [name, value] : server.Environment()) env << name << "=" << value << "\n";
  }
  fs::rename(env_file + ".part", env_file);
  int signal_number = 0;
  sigwait(&set, &signal_number);
  const std::vector<CSimRequestRecord> requests = server.Requests();
  std::ofstream out(report);
  out << requests.size() << "\n";
  // What a plain download repeats: the archive files ("A path") and the
  // issue list pages ("L path?query") that were answered.
  for (const CSimRequestRecord& request : requests) {
    if (request.status != 200 || request.method != "GET") continue;
    if (request.site == Site::kArchive) out << "A " << request.path << "\n";
    if (request.site == Site::kStockList) {
      out << "L " << request.path << (request.query.empty() ? "" : "?" + request.query) << "\n";
    }
  }
  out.close();
  server.Stop();
  _exit(0);
}

struct Inflater {
  z_stream z{};
  std::FILE* out = nullptr;
  std::uint64_t packed = 0, unpacked = 0;
  bool ok = true;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Inflater& inf = *static_cast<Inflater*>(user);
  inf.packed += size * count;
  // The plain download stops where the run's own caps stop it: a body
  // without end (an `endless` fault) would otherwise fill the disk.
  if (inf.packed > CWebArchive::kMaxPackedBytes || inf.unpacked > CWebArchive::kMaxYearBytes) {
    return 0;
  }
  inf.z.next_in = reinterpret_cast<Bytef*>(data);
  inf.z.avail_in = static_cast<uInt>(size * count);
  unsigned char chunk[1 << 16];
  while (inf.ok && inf.z.avail_in > 0) {
    inf.z.next_out = chunk;
    inf.z.avail_out = sizeof chunk;
    const int result = inflate(&inf.z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) inf.ok = false;
    const size_t made = sizeof chunk - inf.z.avail_out;
    inf.unpacked += made;
    std::fwrite(chunk, 1, made, inf.out);
    if (result == Z_STREAM_END) break;
  }
  return size * count;
}

// Forks a child serving `market` and waits for its addresses in `env_file`;
// -1 when it died first.
pid_t StartMarket(const CSimMarketOptions& market, const CSimServerOptions& link,
                  const std::string& env_file, const std::string& report,
                  const std::vector<CSimFault>& faults) {
  fs::remove(env_file);
  const pid_t child = fork();
  if (child == 0) ServeMarket(market, link, env_file, report, faults);
  while (!fs::exists(env_file)) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return child;
}

// Stops a market child and reads its report: the number of requests and
// the archive files it served.
long StopMarket(pid_t child, const std::string& report, std::vector<std::string>& urls) {
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  std::ifstream in(report);
  long requests = 0;
  in >> requests;
  urls.clear();
  for (std::string kind, path; in >> kind >> path;) urls.push_back(kind + " " + path);
  return requests;
}

// The sizes of the files under `folder`, by path.
std::map<std::string, std::uint64_t> FileSizes(const std::string& folder) {
  std::map<std::string, std::uint64_t> sizes;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) sizes[entry.path().string()] = entry.file_size();
  }
  return sizes;
}

// Bytes this process has written so far (/proc/self/io, wchar).
std::uint64_t BytesWritten() {
  std::ifstream in("/proc/self/io");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("wchar:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CSimMarketOptions market;
  market.issueCount = 4000;
  market.firstYear = 2000;
  market.today = CDate::Today();
  std::string folder;
  std::vector<CSimFault> faults;
  bool update = false;
  CSimServerOptions link;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--update") {
      update = true;
      continue;
    }
    if (++i >= argc) break;
    if (arg == "--issues") market.issueCount = std::atoi(argv[i]);
    else if (arg == "--first-year") market.firstYear = std::atoi(argv[i]);
    else if (arg == "--folder") folder = argv[i];
    else if (arg == "--latency") link.latencyMs = std::atoi(argv[i]);
    else if (arg == "--bandwidth") link.bandwidth = std::atoll(argv[i]);
    else if (arg == "--fault") {
      CSimFault fault;
      if (!ParseSimFault(argv[i], fault)) {
        std::fprintf(stderr, "bad fault: %s\n", argv[i]);
        return 2;
      }
      faults.push_back(fault);
    }
  }
  const fs::path work = fs::temp_directory_path() / ("setup-run-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  if (folder.empty()) folder = (work / "db").string();
  const std::string env_file = (work / "env").string();
  const std::string report = (work / "requests").string();

  const CDate today = market.today;
  // The setup's day: the trading day before today's last one.
  CDate setup_day = today;
  if (update) {
    market.horizon = CDate(today.year + 1, 12, 31);
    if (!setup_day.IsBusinessDay()) setup_day.PrevBusinessDay();
    setup_day.PrevBusinessDay();
    market.today = setup_day;
  }
  pid_t child = StartMarket(market, link, env_file, report, faults);
  if (child < 0) return 1;
  const auto take_environment = [&env_file] {
    std::ifstream env(env_file);
    std::string line;
    while (std::getline(env, line)) {
      const size_t eq = line.find('=');
      setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
    }
  };
  take_environment();
  const long hwm_before = VmHwmKib();

  // The run, and for --update the setup it brings forward first.
  CRunChoices choices;
  choices.databaseFolder = folder;
  WorkerProgress progress;
  std::map<std::string, std::uint64_t> before;
  std::vector<std::string> urls;
  if (update) {
    CSetupRun setup(&choices);
    setup.SetPeriod(CDate(market.firstYear, 1, 1), CLocalTime{setup_day, 16, 0});
    progress.ResetForFreshRun();
    setup.Run(progress);
    if (progress.stage != 5) {
      std::fprintf(stderr, "the setup failed: %s\n", progress.Error().c_str());
      return 1;
    }
    before = FileSizes(folder);
    (void)StopMarket(child, report, urls);
    market.today = today;
    child = StartMarket(market, link, env_file, report, faults);
    if (child < 0) return 1;
    take_environment();
  }
  CSetupRun run(&choices);
  run.SetPeriod(CDate(market.firstYear, 1, 1), CLocalTime{market.today, 16, 0});
  run.SetUpdate(update);
  progress.ResetForFreshRun();
  const std::uint64_t wrote_before = BytesWritten();
  const auto run_start = std::chrono::steady_clock::now();
  // The time of each stage, from the progress record sampled as the run
  // goes (index 0: before the first stage).
  double stage_seconds[6] = {};
  std::atomic<bool> running{true};
  std::thread sampler([&] {
    auto last = run_start;
    while (running) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const auto now = std::chrono::steady_clock::now();
      const int stage = std::clamp(progress.stage.load(), 0, 5);
      stage_seconds[stage] += std::chrono::duration<double>(now - last).count();
      last = now;
    }
  });
  run.Run(progress);
  running = false;
  sampler.join();
  const double run_seconds = Seconds(run_start);
  const std::uint64_t run_wrote = BytesWritten() - wrote_before;
  const long hwm_run = VmHwmKib();
  if (progress.stage != 5) {
    std::fprintf(stderr, "the run failed at stage %d: %s\n", progress.stage.load(),
                 progress.Error().c_str());
  }
  // What the run added to the folder: each file's growth (a whole file for
  // one it wrote anew, which an update does with the quick files).
  std::vector<std::uint64_t> sizes;
  std::uint64_t written = 0;
  for (const auto& [path, size] : FileSizes(folder)) {
    const auto old = before.find(path);
    const bool rewritten = path.find("quick") != std::string::npos || old == before.end();
    const std::uint64_t grown = rewritten ? size : size - std::min(size, old->second);
    if (grown == 0) continue;
    sizes.push_back(grown);
    written += grown;
  }
  const long requests = StopMarket(child, report, urls);

  // The limit: the same archive files downloaded and inflated to disk, the
  // same issue list pages downloaded, and the same bytes written into as
  // many files. The market runs again for the downloads.
  const pid_t again = StartMarket(market, link, env_file, report, faults);
  if (again < 0) return 1;
  std::string archive_base, list_base;
  {
    std::ifstream env(env_file);
    for (std::string line; std::getline(env, line);) {
      if (line.rfind("TICKORA_ARCHIVE_URL=", 0) == 0) archive_base = line.substr(20);
      if (line.rfind("TICKORA_STOCK_LIST_URL=", 0) == 0) list_base = line.substr(23);
    }
  }
  const auto base_start = std::chrono::steady_clock::now();
  std::uint64_t packed = 0, unpacked = 0;
  CURL* curl = curl_easy_init();
  const std::string unpacked_path = (work / "unpacked").string();
  std::size_t files = 0;
  for (const std::string& request : urls) {
    const bool file = request[0] == 'A';
    files += file;
    const std::string url = (file ? archive_base : list_base) + request.substr(2);
    Inflater inf;
    inflateInit2(&inf.z, 15 + 16);
    inf.out = std::fopen(unpacked_path.c_str(), "wb");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &inf);
    curl_easy_perform(curl);
    inflateEnd(&inf.z);
    std::fclose(inf.out);
    packed += inf.packed;
    unpacked += inf.unpacked;
  }
  curl_easy_cleanup(curl);
  const fs::path plain = work / "plain";
  fs::create_directories(plain);
  std::vector<char> zeros(1 << 20);
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::FILE* out = std::fopen((plain / std::to_string(i)).c_str(), "wb");
    for (std::uint64_t left = sizes[i]; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<std::uint64_t>(left, zeros.size()));
      std::fwrite(zeros.data(), 1, n, out);
      left -= n;
    }
    std::fclose(out);
  }
  const double base_seconds = Seconds(base_start);
  kill(again, SIGTERM);
  waitpid(again, nullptr, 0);

  std::printf(
      "%s, archive mode, %d issues from %u, splits and margin, %zu faults,"
      " link latency %d ms, bandwidth %lld B/s (0: none)\n"
      "  result          stage %d%s\n"
      "  wall time       %.1f s (before the stages %.1f, issues %.1f, splits %.1f, prices %.1f,"
      " margin %.1f, after %.1f)\n"
      "  VmHWM           %.1f MiB (%.1f MiB before the run; bound 256 MiB)\n"
      "  requests        %ld (%zu archive files and %zu list pages, %.1f MiB packed,"
      " %.1f MiB unpacked)\n"
      "  bytes written   %.3f MiB of growth in %zu files (%.3f MiB written by the process)\n"
      "limit: download (and inflate) the same files and pages, write the same bytes\n"
      "  wall time       %.1f s\n"
      "  ratio           %.2fx\n",
      update ? "one-trading-day update" : "setup run", market.issueCount, market.firstYear,
      faults.size(), link.latencyMs, static_cast<long long>(link.bandwidth), progress.stage.load(),
      progress.stage == 5 ? "" : " (failed)", run_seconds, stage_seconds[0], stage_seconds[1],
      stage_seconds[2], stage_seconds[3], stage_seconds[4], stage_seconds[5], hwm_run / 1024.0,
      hwm_before / 1024.0,
      requests, files, urls.size() - files, packed / 1048576.0, unpacked / 1048576.0,
      written / 1048576.0,
      sizes.size(), run_wrote / 1048576.0, base_seconds, run_seconds / base_seconds);
  fs::remove_all(work);
  return progress.stage == 5 ? 0 : 1;
}
