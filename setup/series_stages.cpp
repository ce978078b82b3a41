#include "setup/series_stages.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <utility>

#include "db/divide.h"
#include "series/append_records.h"
#include "series/record_codec.h"
#include "db/divide_loader_db2.h"
#include "series/chart.h"
#include "series/chart_file.h"
#include "series/issue_file_path.h"
#include "series/margin.h"
#include "series/margin_file.h"
#include "series/quick_margin_file.h"
#include "series/quick_price_file.h"
#include "series/record_checks.h"
#include "series/series_table.h"
#include "support/file_error.h"
#include "support/text.h"

namespace {

const char kDownloadFailed[] = "ダウンロードに失敗したので処理を中断します。\n\n";
const char kFileWriteFailed[] = "DBへの書き込みに失敗したので処理を中断します";

// Days from `first` to the date number `to`; a number that is no date
// counts as the first date itself.
std::int32_t DaysFrom(const CDate& first, std::uint32_t to) {
  CDate date;
  if (!date.FromNumber(to)) return 0;
  return date.DaysBetween(first);
}

// "%u/%u/%u" of the day before date number `from`.
std::string DayBeforeText(std::uint32_t from) {
  CDate day;
  if (day.FromNumber(from)) day = day.SubDays(1);
  return StringFormat("%u/%u/%u", day.year, day.month, day.day);
}

// Sets the error of a chart or margin file that could not be written, with
// its cause; always false.
bool FileWriteFailed(WorkerProgress& progress) {
  const std::string cause = LastFileError();
  progress.SetError(cause.empty() ? std::string(kFileWriteFailed)
                                  : std::string(kFileWriteFailed) + "\n\n" + cause);
  return false;
}

// The span loop for issue `i` of `issues`: calls `fetch(from)` from date
// number `from` on, which asks the source from `from` up to today, keeps what
// it got and returns the source's status, until `from` passes today or the
// source stops moving it. Each span sets the record's done figure
// (`doneBase` plus the days reached) and status (`statusFormat`: code,
// position, count, last day fetched). False when the stage is to stop.
bool FetchIssueSpans(CRunContext& run, const std::vector<std::string>& issues, std::int32_t i,
                     std::int32_t doneBase, std::uint32_t from, const char* statusFormat,
                     const std::function<std::int32_t(std::uint32_t& from)>& fetch) {
  WorkerProgress& progress = run.progress;
  const std::uint32_t today_number = run.Today().ToNumber();
  while (from <= today_number) {
    if (progress.cancel) return false;
    const std::uint32_t asked = from;
    const std::int32_t status = fetch(from);
    if (status < 0) {
      if (Cancelled(status, progress)) return false;
      progress.SetError(kDownloadFailed + run.market.GetMessage(status));
      return false;
    }
    progress.done = DaysFrom(run.firstDate, from) + doneBase;
    progress.SetStatus(StringFormat(statusFormat, issues[i].c_str(), i + 1,
                                    static_cast<std::int32_t>(issues.size()),
                                    DayBeforeText(from).c_str()));
    // A source that did not move the date has nothing more to give.
    if (from <= asked) break;
  }
  return true;
}

// Whether a quick file writer succeeded (`written` not negative); sets the
// error (`format`: the writer's status, its cause) when it did not.
bool QuickWritten(CRunContext& run, std::int32_t written, std::string writer_error,
                  const char* format) {
  if (written >= 0) return true;
  if (writer_error.empty()) writer_error = LastFileError();
  run.progress.SetError(StringFormat(format, written, writer_error.c_str()));
  return false;
}

// A kept file of `code` in `folder` (named by `path_of`), read back with
// its last `reload` records; false when it is gone or does not read.
using FilePathOf = bool (*)(const std::string& folder, const std::string& code,
                            std::string& path);
template <class Loader, class Series>
bool LoadKept(FilePathOf path_of, const std::string& folder, const std::string& code,
              std::int32_t reload, Series& series) {
  std::string path;
  std::error_code ec;
  return path_of(folder, code, path) && std::filesystem::exists(path, ec) &&
         series.Load(std::make_unique<Loader>(folder.c_str(), code, reload));
}

// For an update: the last `reload` records of the file of `code` in
// `folder` (named by `path_of`), which is first cut back to its last whole
// record (an append killed half way leaves a record cut short). `kept`
// stays empty when there is no file, or one that does not read: the issue
// is then fetched whole, as in a setup. False, with the error set, when
// the file cannot be cut.
template <class Loader, class Series>
bool KeptForUpdate(CRunContext& run, FilePathOf path_of, const std::string& folder,
                   const std::string& code, std::size_t recordBytes, std::int32_t reload,
                   Series& kept) {
  kept.clear();
  if (!run.update) return true;
  std::string path;
  ClearFileError();
  if (path_of(folder, code, path) && !CutToWholeRecords(path, recordBytes)) {
    return FileWriteFailed(run.progress);
  }
  if (!LoadKept<Loader>(path_of, folder, code, reload, kept)) kept.clear();
  return true;
}

// The date number of the day after the last record of `kept`, or of the
// first date when it is empty: where an issue's questions begin.
std::uint32_t FirstToAsk(const CRunContext& run, std::uint32_t last) {
  CDate day;
  if (last == 0 || !day.FromNumber(last)) return run.firstDate.ToNumber();
  return day.AddDays(1).ToNumber();
}

// What the price stage does with one kind of series.
struct Prices {
  using Series = CChart;
  using Table = CChartTable;
  static constexpr SetupStage kStage = kStagePrices;

  static std::string Folder(const CRunContext& run) { return run.DailyFolder(); }
  static bool LoadKept(const std::string& folder, const std::string& code, Series& chart) {
    return ::LoadKept<CChartLoaderFile>(BuildChartFilePath, folder, code, kQuickPriceReload,
                                         chart);
  }
  static void PutQuick(Table& quick, const std::string& code, Series&& chart) {
    if (!IsOutsideQuickRange(code)) quick[code].CopyLast(std::move(chart), kQuickPriceDepth);
  }

  // Fetches issue `i` (whole, or in an update from the day after the last
  // bar of its file), writes or appends to its chart file and puts its
  // last bars into the quick map. True also for an issue without bars (no
  // file then).
  static bool Fetch(CRunContext& run, const std::vector<std::string>& issues, std::int32_t i,
                    std::int32_t doneBase, Table& quick) {
    const std::string& code = issues[i];
    const std::string daily = run.DailyFolder();
    const std::uint32_t today_number = run.Today().ToNumber();
    CChart kept;
    if (!KeptForUpdate<CChartLoaderFile>(run, BuildChartFilePath, daily, code, kBarBytes,
                                         kQuickPriceReload, kept)) {
      return false;
    }
    const std::uint32_t after = kept.empty() ? 0 : kept.back().DateNumber();
    CChart chart;
    bool adjust = false;
    const bool fetched = FetchIssueSpans(
        run, issues, i, doneBase, FirstToAsk(run, after),
        "銘柄コード %s(%d/%d個目) の %s までの株価データをダウンロードしました",
        [&](std::uint32_t& from) {
          CQuoteItems bars;
          const std::uint32_t asked = from;
          const std::int32_t status = run.market.GetPrice(from, today_number, code, bars, adjust);
          if (status < 0) return status;
          // Only bars a chart file can hold, inside the span asked for and
          // after the last one kept: a date out of the span (a far future
          // one would make the chart end there, filled up with copies), a
          // repeated or earlier date, or a value that is not a finite,
          // non-negative number is refused and counted. The chart stays
          // strictly ascending.
          for (const CQuoteItem& item : bars) {
            const std::uint32_t date = item.record.DateNumber();
            if (!IsStorableBar(item.record) || date < asked || date > today_number ||
                (!chart.empty() && date <= chart.back().DateNumber())) {
              ++run.refusedRecords;
              continue;
            }
            chart.push_back(item.record);
            chart.back().rawClose = 0.0;
          }
          return status;
        });
    if (!fetched) return false;
    if (chart.empty() && kept.empty()) return true;

    if (adjust) {
      // The source gave split-adjusted bars: they are put back to the
      // prices as traded, which is how chart files hold them. Without its
      // splits the chart would be written with adjusted prices as traded
      // ones: a split list that cannot be read stops the stage.
      CDivide splits;
      if (!splits.Load(std::make_unique<CDivideLoaderDB2>(code, run.database))) {
        run.progress.SetError("株式分割データを読み込めなかったので処理を中断します\n\n" +
                              run.DatabaseErrorText());
        return false;
      }
      splits.AdjustChart(chart, true, run.Today());
    }
    // An update's new bars follow the kept ones, whose close fills a gap
    // before the first new bar.
    chart.insert(chart.begin(), kept.begin(), kept.end());
    chart.FillGaps();
    // The 15:00 rule follows the run's reading, not the live clock: every
    // chart of the run ends on the same day.
    chart.ExtendTo(run.Today(), CChart::LocalTime{run.reading.date, run.reading.hour});
    ClearFileError();
    const bool written =
        after != 0 ? AppendChartRecords(daily, code, chart, after)
                   : chart.Save(std::make_unique<CChartSaverFile>(daily.c_str(), code, false));
    if (!written) return FileWriteFailed(run.progress);
    PutQuick(quick, code, std::move(chart));
    return true;
  }

  static bool WriteQuick(CRunContext& run, const Table& quick) {
    const std::string path = run.DailyFolder() + "/" + "quick2.dat";
    std::string writer_error;
    ClearFileError();
    const std::int32_t written = WriteQuickPriceFile(path.c_str(), quick, kQuickPriceDepth,
                                                     run.gapTolerance, &writer_error);
    return QuickWritten(run, written, writer_error,
                        "クイックDBを作成できなかったので処理を中断します(%d)\n\n%s");
  }
};

// What the margin stage does with one kind of series.
struct Margins {
  using Series = CMargin;
  using Table = CMarginTable;
  static constexpr SetupStage kStage = kStageMargin;

  static std::string Folder(const CRunContext& run) { return run.MarginFolder(); }
  static bool LoadKept(const std::string& folder, const std::string& code, Series& margin) {
    return ::LoadKept<CMarginLoaderFile>(BuildMarginFilePath, folder, code, kQuickMarginReload,
                                          margin);
  }
  // Every issue with entries goes into "quickmg2.dat".
  static void PutQuick(Table& quick, const std::string& code, Series&& margin) {
    quick[code] = std::move(margin);
  }

  static bool Fetch(CRunContext& run, const std::vector<std::string>& issues, std::int32_t i,
                    std::int32_t doneBase, Table& quick) {
    const std::string& code = issues[i];
    const std::string folder = run.MarginFolder();
    const std::uint32_t today_number = run.Today().ToNumber();
    // An update's entries follow the kept ones: the weeks up to the last
    // kept one are dropped as repeats.
    CMargin margin;
    if (!KeptForUpdate<CMarginLoaderFile>(run, BuildMarginFilePath, folder, code,
                                          kMarginEntryBytes, kQuickMarginReload, margin)) {
      return false;
    }
    const std::uint32_t after = margin.empty() ? 0 : margin.back().date.ToNumber();
    const bool fetched = FetchIssueSpans(
        run, issues, i, doneBase, FirstToAsk(run, after),
        "銘柄コード %s(%d/%d個目) の %s までの信用残データをダウンロードしました",
        [&](std::uint32_t& from) {
          std::vector<CMarginRecord> entries;
          const std::int32_t status = run.market.GetMargin(from, today_number, code, entries);
          // The pages give their whole table whatever span was asked, so a
          // later call can repeat the weeks of an earlier one: only entries
          // after the last one held are added, keeping one entry a week in
          // ascending order (a file with repeated weeks would be corrupt);
          // those weeks are not counted as refused. An entry a margin file
          // cannot hold, or dated after today, is refused and counted.
          if (status < 0) return status;
          for (const CMarginRecord& entry : entries) {
            if (!IsStorableEntry(entry) || entry.date.ToNumber() > today_number) {
              ++run.refusedRecords;
            } else if (margin.empty() || margin.back().date < entry.date) {
              margin.push_back(entry);
            }
          }
          return status;
        });
    if (!fetched) return false;
    if (margin.empty()) return true;
    if (run.progress.cancel) return false;
    ClearFileError();
    const bool written =
        after != 0 ? AppendMarginRecords(folder, code, margin, after)
                   : margin.Save(std::make_unique<CMarginSaverFile>(folder.c_str(), code));
    if (!written) return FileWriteFailed(run.progress);
    PutQuick(quick, code, std::move(margin));
    return true;
  }

  static bool WriteQuick(CRunContext& run, const Table& quick) {
    const std::string path = run.MarginFolder() + "/" + "quickmg2.dat";
    std::string writer_error;
    ClearFileError();
    const std::int32_t written =
        WriteQuickMarginFile(path.c_str(), quick, kQuickMarginDepth, &writer_error);
    return QuickWritten(
        run, written, writer_error,
        "クイックDB(信用残)を作成できなかったので処理を中断します(%d)\n\n%s");
  }
};

// The stage from issue `first` on: the issues before it are only checked
// (their files read back, fetched again when gone or unreadable), the rest
// fetched; then the quick file from all of them. An issue for which the
// source has nothing has no file, and fetching it again gives nothing
// again, as in an undisturbed run, so the quick file comes out the same
// either way.
template <class Kind>
bool SeriesStage(CRunContext& run, const std::vector<std::string>& issues, std::int32_t first) {
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  const std::int32_t units = run.DaysInPeriod();
  run.progress.total = (count - first) * units;
  const std::string folder = Kind::Folder(run);
  typename Kind::Table quick;
  for (std::int32_t j = 0; j < first; ++j) {
    typename Kind::Series series;
    if (!Kind::LoadKept(folder, issues[j], series)) {
      if (!Kind::Fetch(run, issues, j, 0, quick)) return false;
    } else {
      Kind::PutQuick(quick, issues[j], std::move(series));
    }
  }
  for (std::int32_t i = first; i < count; ++i) {
    run.position.Save(run.progress, Kind::kStage, i);
    if (!Kind::Fetch(run, issues, i, (i - first) * units, quick)) return false;
  }
  if (!Kind::WriteQuick(run, quick)) return false;
  run.progress.done = run.progress.total.load();
  return true;
}

template <class Kind>
bool DownloadStage(CRunContext& run, const std::vector<std::string>& issues) {
  std::int32_t first = 0;
  if (!CRunPosition::BeginStage(run.progress, static_cast<std::int32_t>(issues.size()),
                                first)) {
    return false;
  }
  // The position stays at the resumed issue while the earlier ones are
  // checked.
  if (first > 0) run.position.Save(run.progress, Kind::kStage, first);
  return SeriesStage<Kind>(run, issues, first);
}

}  // namespace

bool IsOutsideQuickRange(const std::string& code) {
  if (code.empty()) return false;
  for (char c : code) {
    if (c < '0' || c > '9') return false;
  }
  // Leading zeros do not count; more than four digits left is above 9999.
  const std::size_t start = std::min(code.find_first_not_of('0'), code.size());
  if (code.size() - start > 4) return true;
  const int value = start == code.size() ? 0 : std::stoi(code.substr(start));
  return value < 1300 || value > 9999;
}

bool RunPriceStage(CRunContext& run, const std::vector<std::string>& issues) {
  return DownloadStage<Prices>(run, issues);
}

bool RunMarginStage(CRunContext& run, const std::vector<std::string>& issues) {
  return DownloadStage<Margins>(run, issues);
}

bool CheckPriceFiles(CRunContext& run, const std::vector<std::string>& issues) {
  return SeriesStage<Prices>(run, issues, static_cast<std::int32_t>(issues.size()));
}
