// Insert-or-update throughput of the stock database: 4,000 issue rows and
// 20,000 split rows written into a fresh stock.mdb, then every issue read
// back with GetAllBrands.
//
// The writes wait on the disk, so every rate is taken over wall time. Each
// write is one statement on a fresh database (the INSERT) and two when the
// row exists (the failed INSERT, then the UPDATE); the counters report
// writes and statements apart. The limit the writes are compared against
// is the same work done by the plainest means in the same run: the same
// statement texts, formatted with snprintf and run with sqlite3_exec on a
// connection with the same journal settings.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "db/db_stock3.h"
#include "support/cp932.h"

namespace {

constexpr int kIssues = 4000;
constexpr int kSplitsPerIssue = 5;
constexpr int kWrites = kIssues * (1 + kSplitsPerIssue);

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

CDivideRecord Split(int s) {
  CDivideRecord d;
  d.date = CDate(2000 + s * 4, 4, 1);
  d.ratio = 2.0;
  return d;
}

// A database with the tables and nothing else; the folder is removed when
// the object goes.
class FreshDatabase {
 public:
  FreshDatabase() : path_(FreshDatabasePath()) {}
  ~FreshDatabase() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path_).parent_path(), ignored);
  }
  const std::string& path() const { return path_; }

  void Remake(CDBStock3& db) {
    db.Close();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
    if (!db.CreateDatabase(path_) || !db.Open(path_) || !db.CreateTables()) std::abort();
  }

 private:
  std::string path_;
};

void ReportWrites(benchmark::State& state, bool update) {
  const double writes = static_cast<double>(state.iterations()) * kWrites;
  state.counters["writes/s"] = benchmark::Counter(writes, benchmark::Counter::kIsRate);
  state.counters["statements/s"] =
      benchmark::Counter(writes * (update ? 2 : 1), benchmark::Counter::kIsRate);
}

// Every row once through CDBStock3. `update` writes every row once before
// the timed pass, so that each timed write takes the failed INSERT and then
// the UPDATE.
void WriteAll(benchmark::State& state, bool update) {
  FreshDatabase fresh;
  CDBStock3 db;
  auto pass = [&db, &state] {
    for (int i = 0; i < kIssues; ++i) {
      const CBrandRecord brand = Brand(i);
      if (!db.WriteBrand(brand)) state.SkipWithError("WriteBrand");
      for (int s = 0; s < kSplitsPerIssue; ++s) {
        if (!db.WriteDivide(brand.code, Split(s))) state.SkipWithError("WriteDivide");
      }
    }
  };
  for (auto _ : state) {
    state.PauseTiming();
    fresh.Remake(db);
    if (update) pass();
    state.ResumeTiming();
    pass();
  }
  ReportWrites(state, update);
  db.Close();
}

// The same statements, formatted with snprintf and run with sqlite3_exec.
class PlainWriter {
 public:
  explicit PlainWriter(const std::string& path)
      : insertBrand_(Utf8FromCp932(
            "INSERT INTO 銘柄 VALUES ('%s', %d, '%s', '%s', %u, '%s', %u, %.0f, %f, %f, %f)")),
        updateBrand_(Utf8FromCp932(
            "UPDATE 銘柄 SET 種別=%d,市場='%s',名称='%s',売買単位=%u,業種='%s',貸借=%u,"
            "発行済株式数=%.0f,配当=%f,EPS=%f,BPS=%f WHERE 銘柄コード='%s'")),
        insertSplit_(Utf8FromCp932("INSERT INTO 分割 VALUES ('%s', %d, %f)")),
        updateSplit_(Utf8FromCp932("UPDATE 分割 SET 分割比=%f WHERE 銘柄コード='%s' AND 日付=%d")) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK ||
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr,
                     nullptr, nullptr) != SQLITE_OK) {
      std::abort();
    }
  }
  ~PlainWriter() { sqlite3_close(db_); }

  bool WriteBrand(const CBrandRecord& b, const std::string& market, const std::string& name,
                  const std::string& industry) {
    const char* code = b.code.c_str();
    return Run(Format(insertBrand_.c_str(), code, b.kind, market.c_str(), name.c_str(), b.unit,
                      industry.c_str(), b.lendable, b.sharesOutstanding, b.dividend, b.eps,
                      b.bps)) ||
           Run(Format(updateBrand_.c_str(), b.kind, market.c_str(), name.c_str(), b.unit,
                      industry.c_str(), b.lendable, b.sharesOutstanding, b.dividend, b.eps,
                      b.bps, code));
  }
  bool WriteSplit(const std::string& code, const CDivideRecord& d) {
    const int date = static_cast<int>(d.date.ToNumber());
    return Run(Format(insertSplit_.c_str(), code.c_str(), date, d.ratio)) ||
           Run(Format(updateSplit_.c_str(), d.ratio, code.c_str(), date));
  }

 private:
  template <typename... Args>
  const char* Format(const char* format, Args... args) {
    std::snprintf(text_, sizeof text_, format, args...);
    return text_;
  }
  bool Run(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  sqlite3* db_ = nullptr;
  std::string insertBrand_, updateBrand_, insertSplit_, updateSplit_;
  char text_[1024];
};

void PlainWriteAll(benchmark::State& state, bool update) {
  FreshDatabase fresh;
  CDBStock3 schema;
  const std::string market = Utf8FromCp932("東証プライム");
  const std::string industry = Utf8FromCp932("電気機器");
  std::vector<std::string> names;
  for (int i = 0; i < kIssues; ++i) names.push_back(Utf8FromCp932(Brand(i).name));
  for (auto _ : state) {
    state.PauseTiming();
    fresh.Remake(schema);
    schema.Close();
    {
      PlainWriter db(fresh.path());
      auto pass = [&] {
        for (int i = 0; i < kIssues; ++i) {
          const CBrandRecord brand = Brand(i);
          if (!db.WriteBrand(brand, market, names[static_cast<size_t>(i)], industry)) {
            state.SkipWithError("plain brand write");
          }
          for (int s = 0; s < kSplitsPerIssue; ++s) {
            if (!db.WriteSplit(brand.code, Split(s))) state.SkipWithError("plain split write");
          }
        }
      };
      if (update) pass();
      state.ResumeTiming();
      pass();
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  ReportWrites(state, update);
}

void BM_InsertFresh(benchmark::State& state) { WriteAll(state, false); }
void BM_UpdateExisting(benchmark::State& state) { WriteAll(state, true); }
void BM_PlainSqliteInsertFresh(benchmark::State& state) { PlainWriteAll(state, false); }
void BM_PlainSqliteUpdateExisting(benchmark::State& state) { PlainWriteAll(state, true); }

void BM_GetAllBrands(benchmark::State& state) {
  FreshDatabase fresh;
  CDBStock3 db;
  fresh.Remake(db);
  for (int i = 0; i < kIssues; ++i) {
    if (!db.WriteBrand(Brand(i))) std::abort();
  }
  std::vector<CBrandRecord> brands;
  for (auto _ : state) {
    if (!db.GetAllBrands(brands) || brands.size() != kIssues) {
      state.SkipWithError("GetAllBrands");
    }
  }
  state.counters["rows/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kIssues, benchmark::Counter::kIsRate);
  db.Close();
}

}  // namespace

// Rates over wall time: the writes wait on the file system.
BENCHMARK(BM_InsertFresh)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_PlainSqliteInsertFresh)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_UpdateExisting)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_PlainSqliteUpdateExisting)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK(BM_GetAllBrands)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
