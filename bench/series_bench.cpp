// Speed and memory of the price series files and tables:
//
//   BM_PriceTableMemory  the resident memory a price table of 4,000 issues
//                        of 4,000 bars takes, and sizeof(CDayRecord)
//   BM_ReadArchivePrice  ReadArchivePriceFile on a file of 1,000,000
//                        records, in MB/s of the unpacked file
//   BM_WriteQuickPrice   WriteQuickPriceFile of 4,000 issues of 320 bars
//   BM_ChartFileSave     one chart file of 4,000 bars written (new or
//                        rewritten) and read back through
//   BM_ChartFileLoad     CChart::Save / CChart::Load
//
// The files live in a temporary folder of this process, which is removed
// when the run ends. The files are read back from the page cache, having
// just been written: the figures leave out the disk.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "series/archive_price_file.h"
#include "series/chart.h"
#include "series/chart_file.h"
#include "series/day_record.h"
#include "series/quick_price_file.h"
#include "series/series_table.h"
#include "support/date.h"

namespace {

constexpr int kArchiveIssues = 4000;
constexpr int kArchiveBarsPerIssue = 250;  // 1,000,000 records
constexpr int kQuickIssues = 4000;
constexpr int kQuickDepth = 320;
constexpr int kChartBars = 4000;
constexpr int kTableIssues = 4000;
constexpr int kTableBars = 4000;

// The last bar of every synthetic series: a Friday that is a trading day.
const CDate kLastDay(2024, 6, 14);

constexpr double kMiB = 1024.0 * 1024.0;

const std::filesystem::path& WorkFolder() {
  static const std::filesystem::path folder = [] {
    auto dir = std::filesystem::temp_directory_path() /
               ("tickora-series-bench-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
  }();
  return folder;
}

// `count` consecutive trading days ending on kLastDay, as date numbers in
// ascending order.
std::vector<uint32_t> TradingDaysUpToLast(int count) {
  std::vector<uint32_t> days(static_cast<size_t>(count));
  CDate day = kLastDay;
  for (int i = count - 1; i >= 0; --i) {
    days[static_cast<size_t>(i)] = day.ToNumber();
    day.PrevBusinessDay();
  }
  return days;
}

std::string IssueCode(int i) { return std::to_string(1301 + i); }

// A bar with prices that move a little from day to day and never reach 0,
// all exactly representable as float32.
CDayRecord Bar(uint32_t date, int issue, int day) {
  CDayRecord bar;
  bar.SetDateNumber(date);
  const double base = 500.0 + (issue % 97) * 10.0 + (day % 50);
  bar.open = base;
  bar.high = base + 12.0;
  bar.low = base - 8.0;
  bar.close = base + 3.0;
  bar.volume = 1000.0 * (1 + (issue + day) % 300);
  return bar;
}

CChart Series(const std::vector<uint32_t>& days, int issue) {
  CChart series;
  series.reserve(days.size());
  for (size_t d = 0; d < days.size(); ++d) {
    series.push_back(Bar(days[d], issue, static_cast<int>(d)));
  }
  return series;
}

CChartTable Table(int issues, int bars) {
  const std::vector<uint32_t> days = TradingDaysUpToLast(bars);
  CChartTable table;
  for (int i = 0; i < issues; ++i) table.emplace(IssueCode(i), Series(days, i));
  return table;
}

// ---- Memory --------------------------------------------------------------

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when missing.
long StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

// Sets the process's peak resident size back to its current resident size,
// so that VmHWM afterwards tells the peak of what follows alone.
bool ResetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// Builds the table as the chart file loader fills a series, one push_back a
// bar with the vector growing as it goes, and reports the growth of the
// peak resident size (VmHWM after building less VmRSS before, the peak
// having been reset to the current size first).
void BM_PriceTableMemory(benchmark::State& state) {
  const std::vector<uint32_t> days = TradingDaysUpToLast(kTableBars);
  double growthKiB = 0;
  bool peakReset = true;
  for (auto _ : state) {
    peakReset = ResetPeakRss() && peakReset;
    const long before = StatusKiB("VmRSS");
    {
      CChartTable table;
      for (int i = 0; i < kTableIssues; ++i) {
        CChart& series = table[IssueCode(i)];
        for (int d = 0; d < kTableBars; ++d) {
          series.push_back(Bar(days[static_cast<size_t>(d)], i, d));
        }
      }
      benchmark::DoNotOptimize(table);
      growthKiB = static_cast<double>(StatusKiB("VmHWM") - before);
    }
  }
  if (!peakReset) state.SkipWithError("cannot reset the peak resident size");
  const double bars = static_cast<double>(kTableIssues) * kTableBars;
  state.counters["sizeof_CDayRecord"] = sizeof(CDayRecord);
  state.counters["bars_MiB"] = bars * sizeof(CDayRecord) / kMiB;
  state.counters["peak_growth_MiB"] = growthKiB / 1024.0;
  state.counters["bytes_per_bar"] = growthKiB * 1024.0 / bars;
}

// ---- Archive price file --------------------------------------------------

std::string ArchivePricePath() {
  static const std::string path = [] {
    const std::string file = (WorkFolder() / "price.bin").string();
    CArchiveFileHeader header;
    header.version = kArchiveVersion;
    header.madeDate = kLastDay.ToNumber();
    const CChartTable table = Table(kArchiveIssues, kArchiveBarsPerIssue);
    if (!WriteArchivePriceFile(file.c_str(), table, 0, 99991231, header)) {
      return std::string();
    }
    return file;
  }();
  return path;
}

void BM_ReadArchivePrice(benchmark::State& state) {
  const std::string path = ArchivePricePath();
  if (path.empty()) {
    state.SkipWithError("WriteArchivePriceFile");
    return;
  }
  const auto bytes = std::filesystem::file_size(path);
  CChartTable table;
  for (auto _ : state) {
    if (!ReadArchivePriceFile(path.c_str(), table) ||
        table.size() != kArchiveIssues) {
      state.SkipWithError("ReadArchivePriceFile");
      break;
    }
    // Freeing the previous table is no part of reading.
    state.PauseTiming();
    table.clear();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes));
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kArchiveIssues *
          kArchiveBarsPerIssue,
      benchmark::Counter::kIsRate);
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}

// ---- Quick price file ----------------------------------------------------

void BM_WriteQuickPrice(benchmark::State& state) {
  const CChartTable table = Table(kQuickIssues, kQuickDepth);
  const std::string path = (WorkFolder() / "quick2.dat").string();
  std::string error;
  for (auto _ : state) {
    const int32_t status =
        WriteQuickPriceFile(path.c_str(), table, kQuickDepth, 0, &error);
    if (status != kQuickFileOk) {
      state.SkipWithError(("WriteQuickPriceFile " + std::to_string(status) +
                           " " + error).c_str());
      break;
    }
  }
  std::error_code ignored;
  const auto bytes = std::filesystem::file_size(path, ignored);
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
  std::filesystem::remove(path, ignored);
}

// ---- Chart file ----------------------------------------------------------

const char kChartCode[] = "7203";

CChart ChartBars() { return Series(TradingDaysUpToLast(kChartBars), 7203); }

// Arg 0 writes a new file each time (the file is removed, untimed, before
// each save), as a fresh setup run does; arg 1 rewrites the existing file,
// as a later update does. On ext4 the rewrite also starts the write-back
// of the file when it is closed (the file was truncated on opening), which
// the wall time shows.
void BM_ChartFileSave(benchmark::State& state) {
  const std::string folder = WorkFolder().string();
  const auto path = WorkFolder() / (std::string(kChartCode) + ".dat");
  const bool rewrite = state.range(0) != 0;
  CChart chart = ChartBars();
  for (auto _ : state) {
    if (!rewrite) {
      state.PauseTiming();
      std::filesystem::remove(path);
      state.ResumeTiming();
    }
    if (!chart.Save(std::make_unique<CChartSaverFile>(folder.c_str(),
                                                      kChartCode, false))) {
      state.SkipWithError("CChart::Save");
      break;
    }
  }
  state.counters["bars"] = static_cast<double>(chart.size());
}

void BM_ChartFileLoad(benchmark::State& state) {
  const std::string folder = WorkFolder().string();
  CChart written = ChartBars();
  if (!written.Save(std::make_unique<CChartSaverFile>(folder.c_str(),
                                                      kChartCode, false))) {
    state.SkipWithError("CChart::Save");
    return;
  }
  CChart chart;
  for (auto _ : state) {
    if (!chart.Load(std::make_unique<CChartLoaderFile>(folder.c_str(),
                                                       kChartCode, 0)) ||
        chart.size() != kChartBars) {
      state.SkipWithError("CChart::Load");
      break;
    }
  }
  state.counters["bars"] = static_cast<double>(chart.size());
}

}  // namespace

// The memory benchmark runs first, while the process is still small.
BENCHMARK(BM_PriceTableMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
// Rates are taken over wall time, which includes the file system's share.
BENCHMARK(BM_ReadArchivePrice)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteQuickPrice)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChartFileSave)
    ->ArgName("rewrite")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_ChartFileLoad)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(WorkFolder(), ignored);
  return 0;
}
