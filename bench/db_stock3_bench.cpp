// Insert-or-update throughput of the stock database: 4,000 issue rows and
// 20,000 split rows written into a fresh stock.mdb, then every issue read
// back with GetAllBrands. Reports statements per second.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "db/db_stock3.h"

namespace {

constexpr int kIssues = 4000;
constexpr int kSplitsPerIssue = 5;

std::string FreshDatabasePath() {
  auto dir = std::filesystem::temp_directory_path() /
             ("tickora-bench-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return (dir / "stock.mdb").string();
}

CBrandRecord Brand(int i) {
  CBrandRecord b;
  b.code = std::to_string(1300 + i);
  b.kind = kKindStock;
  b.market = "東証プライム";
  b.industry = "電気機器";
  b.name = "銘柄" + std::to_string(i);
  b.unit = 100;
  b.lendable = 1;
  b.sharesOutstanding = 1e8 + i;
  b.dividend = 10;
  b.eps = 100;
  b.bps = 1000;
  return b;
}

void OpenFresh(CDBStock3& db, const std::string& path) {
  db.Close();
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  if (!db.CreateDatabase(path) || !db.Open(path) || !db.CreateTables()) {
    std::abort();
  }
}

// `update` runs every write a second time, so that each one takes the
// failed INSERT and then the UPDATE.
void WriteAll(benchmark::State& state, bool update) {
  const std::string path = FreshDatabasePath();
  CDBStock3 db;
  std::int64_t statements = 0;
  for (auto _ : state) {
    state.PauseTiming();
    OpenFresh(db, path);
    state.ResumeTiming();
    for (int pass = 0; pass < (update ? 2 : 1); ++pass) {
      const bool timed = !update || pass == 1;
      if (!timed) state.PauseTiming();
      for (int i = 0; i < kIssues; ++i) {
        if (!db.WriteBrand(Brand(i))) state.SkipWithError("WriteBrand");
        for (int s = 0; s < kSplitsPerIssue; ++s) {
          CDivideRecord d;
          d.date = CDate(2000 + s * 4, 4, 1);
          d.ratio = 2.0;
          if (!db.WriteDivide(Brand(i).code, d)) state.SkipWithError("WriteDivide");
        }
      }
      if (!timed) state.ResumeTiming();
    }
    statements += kIssues * (1 + kSplitsPerIssue);
  }
  state.counters["statements/s"] =
      benchmark::Counter(static_cast<double>(statements),
                         benchmark::Counter::kIsRate);
  db.Close();
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

void BM_InsertFresh(benchmark::State& state) { WriteAll(state, false); }
void BM_UpdateExisting(benchmark::State& state) { WriteAll(state, true); }

void BM_GetAllBrands(benchmark::State& state) {
  const std::string path = FreshDatabasePath();
  CDBStock3 db;
  OpenFresh(db, path);
  for (int i = 0; i < kIssues; ++i) db.WriteBrand(Brand(i));
  std::vector<CBrandRecord> brands;
  for (auto _ : state) {
    if (!db.GetAllBrands(brands) || brands.size() != kIssues) {
      state.SkipWithError("GetAllBrands");
    }
  }
  state.counters["rows/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kIssues,
      benchmark::Counter::kIsRate);
  db.Close();
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

}  // namespace

BENCHMARK(BM_InsertFresh)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_UpdateExisting)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_GetAllBrands)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
