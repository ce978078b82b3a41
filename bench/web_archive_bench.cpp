// A whole-market archive run: the 27 price years of a 4,000-issue market
// (2000 to 2026) fetched by CWebArchive and GetPrice answered for every
// issue and year, as the price stage asks; then the 27 margin years and
// GetMargin likewise. Reported: wall-clock time, bytes downloaded, the
// process's peak resident memory (VmHWM) of each phase, and beside the
// price phase the limit it is measured against: the same files only
// downloaded to disk by CHttpClient and inflated to disk by zlib, in the
// same run.
//
// The simulated market runs as a process of its own (market-sim, built
// beside this program), so that its file cache does not count in the
// memory measured here. Every file is requested once before anything is
// timed, so that the server has made and cached them all.
//
// Usage: web_archive_bench [--issues N] [--years FIRST]

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "series/buffer_file.h"
#include "series/temp_file.h"
#include "support/app_paths.h"
#include "tools/market-sim/sim_market.h"
#include "web/http_client.h"
#include "web/site_urls.h"
#include "web/web_archive.h"

namespace {

// The market's today: a Friday, after both price cut-offs.
const CDate kToday(2026, 12, 4);

double Seconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The peak resident memory of this process, in MiB.
double PeakMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return -1;
}

// Starts the peak over from the present resident size.
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// market-sim as a child process, serving until it is stopped.
class SimProcess {
 public:
  bool Start(int issues, uint32_t firstYear) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return false;
    self[n] = '\0';
    const std::string program =
        (std::filesystem::path(self).parent_path() / "../tools/market-sim/market-sim").string();
    envFile_ = TempFolder() + "web-archive-bench-" + std::to_string(getpid()) + ".env";
    std::remove(envFile_.c_str());
    const std::string issueText = std::to_string(issues);
    const std::string yearText = std::to_string(firstYear);
    const std::string todayText = std::to_string(kToday.ToNumber());
    pid_ = fork();
    if (pid_ == 0) {
      execl(program.c_str(), program.c_str(), "--issues", issueText.c_str(), "--first-year",
            yearText.c_str(), "--today", todayText.c_str(), "--env-file", envFile_.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) return false;
    for (int i = 0; i < 600; ++i) {
      std::ifstream in(envFile_);
      std::stringstream text;
      text << in.rdbuf();
      const std::string lines = text.str();
      if (!lines.empty() && lines.back() == '\n') {
        std::istringstream each(lines);
        for (std::string line; std::getline(each, line);) {
          const size_t eq = line.find('=');
          if (line.rfind("export ", 0) == 0 && eq != std::string::npos) {
            setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 1).c_str(), 1);
          }
        }
        return true;
      }
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return false;
      usleep(100 * 1000);
    }
    return false;
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!envFile_.empty()) std::remove(envFile_.c_str());
  }

 private:
  pid_t pid_ = -1;
  std::string envFile_;
};

std::string PriceFile(uint32_t year) {
  return year == kToday.year ? "priceyear-" + std::to_string(kToday.ToNumber()) + ".bin"
                             : "price-" + std::to_string(year) + ".bin";
}

// The plainest way to the same bytes: download each file to disk, then
// inflate it to disk with zlib's gz functions. Gives the bytes downloaded
// and unpacked, or false on a failure.
bool DownloadAndInflate(const std::vector<std::string>& names, uint64_t& downloaded,
                        uint64_t& unpacked) {
  CHttpClient client;
  downloaded = unpacked = 0;
  std::vector<char> chunk(1 << 20);
  for (const std::string& name : names) {
    CBufferFile gz(TempFolder() + "web-archive-bench.gz");
    const int32_t code = client.Get(
        SiteAddress(Site::kArchive, std::string(CWebArchive::kPathPrefix) + name), gz,
        {CWebArchive::kAcceptHeader});
    if (code != 0) {
      std::fprintf(stderr, "%s: %d\n", name.c_str(), code);
      return false;
    }
    downloaded += std::filesystem::file_size(gz.GetPath());
    CTempFile out(TempFolder() + "web-archive-bench.bin");
    gzFile in = gzopen(gz.GetPath().c_str(), "rb");
    std::FILE* file = std::fopen(out.c_str(), "wb");
    if (in == nullptr || file == nullptr) return false;
    int got = 0;
    while ((got = gzread(in, chunk.data(), static_cast<unsigned>(chunk.size()))) > 0) {
      std::fwrite(chunk.data(), 1, static_cast<size_t>(got), file);
      unpacked += static_cast<uint64_t>(got);
    }
    const bool ok = got == 0 && gzclose(in) == Z_OK;
    std::fclose(file);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int issues = 4000;
  uint32_t firstYear = 2000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--issues") == 0) issues = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--years") == 0) firstYear = static_cast<uint32_t>(std::atoi(argv[i + 1]));
  }
  SimProcess sim;
  if (!sim.Start(issues, firstYear)) {
    std::fprintf(stderr, "market-sim did not start\n");
    return 1;
  }
  // The issue codes, from the same market's issue list (no series made).
  std::vector<std::string> codes;
  {
    CSimMarketOptions options;
    options.issueCount = issues;
    options.firstYear = firstYear;
    options.today = kToday;
    const CSimMarket market(options);
    for (const CSimIssue& issue : market.Issues()) codes.push_back(issue.record.code);
  }
  std::vector<std::string> prices, margins;
  for (uint32_t year = firstYear; year <= kToday.year; ++year) {
    prices.push_back(PriceFile(year));
    margins.push_back(year == kToday.year ? "marginyear-20261202.bin"
                                          : "margin-" + std::to_string(year) + ".bin");
  }
  std::vector<std::string> all = prices;
  all.insert(all.end(), margins.begin(), margins.end());

  uint64_t downloaded = 0, unpacked = 0, marginBytes = 0, marginUnpacked = 0;
  double start = Seconds();
  if (!DownloadAndInflate(all, downloaded, unpacked)) return 1;
  std::printf("server warm-up (every file made once): %.1f s\n", Seconds() - start);

  ResetPeak();
  start = Seconds();
  if (!DownloadAndInflate(prices, downloaded, unpacked)) return 1;
  const double limit = Seconds() - start;
  const double limitPeak = PeakMiB();
  if (!DownloadAndInflate(margins, marginBytes, marginUnpacked)) return 1;

  ResetPeak();
  CWebArchive archive([] { return CLocalTime{kToday, 16, 0}; });
  const uint32_t from0 = firstYear * 10000 + 101, to = kToday.ToNumber();
  start = Seconds();
  uint64_t bars = 0, calls = 0;
  for (const std::string& code : codes) {
    for (uint32_t from = from0; from <= to; ++calls) {
      CQuoteItems items;
      bool adjust = false;
      if (archive.GetPrice(from, to, code, items, adjust) != 0) {
        std::fprintf(stderr, "GetPrice %s %u failed\n", code.c_str(), from);
        return 1;
      }
      bars += items.size();
    }
  }
  const double priceTime = Seconds() - start;
  const double pricePeak = PeakMiB();

  start = Seconds();
  uint64_t entries = 0;
  for (const std::string& code : codes) {
    for (uint32_t from = from0; from <= to;) {
      std::vector<CMarginRecord> items;
      if (archive.GetMargin(from, to, code, items) != 0) {
        std::fprintf(stderr, "GetMargin %s %u failed\n", code.c_str(), from);
        return 1;
      }
      entries += items.size();
    }
  }
  const double marginTime = Seconds() - start;
  const double runPeak = PeakMiB();

  const double mib = 1024.0 * 1024.0;
  std::printf("issues %zu, years %u-%u\n", codes.size(), firstYear, kToday.year);
  std::printf("price files: %zu, %.1f MiB downloaded, %.1f MiB unpacked\n", prices.size(),
              static_cast<double>(downloaded) / mib, static_cast<double>(unpacked) / mib);
  std::printf("  download + inflate only (the limit): %7.2f s  %6.1f MiB/s  VmHWM %6.1f MiB\n",
              limit, static_cast<double>(downloaded) / mib / limit, limitPeak);
  std::printf("  CWebArchive, %llu GetPrice (%llu bars): %7.2f s  %6.1f MiB/s  VmHWM %6.1f MiB"
              "  (%.2fx the limit)\n",
              static_cast<unsigned long long>(calls), static_cast<unsigned long long>(bars),
              priceTime, static_cast<double>(downloaded) / mib / priceTime, pricePeak,
              priceTime / limit);
  std::printf("margin files: %zu, %.1f MiB downloaded, %.1f MiB unpacked\n", margins.size(),
              static_cast<double>(marginBytes) / mib, static_cast<double>(marginUnpacked) / mib);
  std::printf("  CWebArchive, GetMargin for every issue and year (%llu entries): %.2f s\n",
              static_cast<unsigned long long>(entries), marginTime);
  std::printf("whole run (%zu years held): VmHWM %.1f MiB (limit 512 MiB)\n",
              prices.size() + margins.size(), runPeak);
  return 0;
}
