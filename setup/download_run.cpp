#include "setup/download_run.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "db/brand_record.h"
#include "db/divide.h"
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
#include "setup/resume_file.h"
#include "support/file_error.h"
#include "support/issue_code.h"
#include "support/text.h"
#include "web/http_client.h"

namespace {

constexpr std::int32_t kMaxListPages = 100;
constexpr int kFixedFirstCode = 1300;
constexpr int kFixedLastCode = 9999;

const char kDownloadFailed[] =
    "ダウンロードに失敗したので処理を中断します。\n\n";
const char kFileWriteFailed[] =
    "DBへの書き込みに失敗したので処理を中断します";

// A download that the record's cancel flag stopped: the stage ends as
// cancelled, without an error text. The status alone is not taken for a
// cancel: a run that ends without error text and without the user's
// cancel would look finished.
bool Cancelled(std::int32_t status, const WorkerProgress& progress) {
  return status == CHttpClient::kErrorCancelled && progress.cancel != 0;
}

// Days from `first` to the date number `to`; a number that is no date
// counts as the first date itself.
std::int32_t DaysFrom(const CDate& first, std::uint32_t to) {
  CDate date;
  if (!date.FromNumber(to)) return 0;
  return date.DaysBetween(first);
}

}  // namespace

CDownloadRun::CDownloadRun(const CRunOptions* options,
                           std::unique_ptr<CWebMarket> market)
    : CSetupRun(options), market_(std::move(market)) {
  // Every date rule of the source follows the run's one reading of the
  // clock, never the live clock: a run that crosses 15:00 or 15:40, or
  // resumes the next morning, still names the same archive files and ends
  // every chart on the same day.
  const CLocalClock reading = [this] { return Reading(); };
  if (!market_) market_ = std::make_unique<CWebMarket>(reading);
  market_->SetClock(reading);
}

CDownloadRun::~CDownloadRun() = default;

bool CDownloadRun::IsOutsideQuickRange(const std::string& code) {
  if (code.empty()) return false;
  for (char c : code) {
    if (c < '0' || c > '9') return false;
  }
  // Leading zeros do not count; more than four digits left is above 9999.
  const std::size_t start = std::min(code.find_first_not_of('0'), code.size());
  if (code.size() - start > 4) return true;
  const int value = start == code.size() ? 0 : std::stoi(code.substr(start));
  return value < kFixedFirstCode || value > kFixedLastCode;
}

std::vector<std::string> CDownloadRun::FixedCodeList() {
  std::vector<std::string> codes;
  codes.reserve(kFixedLastCode - kFixedFirstCode + 1);
  for (int code = kFixedFirstCode; code <= kFixedLastCode; ++code) {
    codes.push_back(std::to_string(code));
  }
  return codes;
}

void CDownloadRun::SetArchivePreference(bool use_archive) {
  market_->SetArchivePreference(use_archive);
}

void CDownloadRun::SetCancelFlag(const std::atomic<std::uint8_t>* cancel) {
  market_->SetCancelFlag(cancel);
}

std::string CDownloadRun::DayBeforeText(std::uint32_t from) {
  CDate day;
  if (day.FromNumber(from)) day = day.SubDays(1);
  return StringFormat("%u/%u/%u", day.year, day.month, day.day);
}

// ---- Stage 1: issues ----------------------------------------------------

std::vector<std::string> CDownloadRun::BuildCodeList(std::int32_t& status) {
  std::vector<std::string> codes;
  bool page_gave_codes = false;
  status = 0;
  for (std::int32_t page = 1; page <= kMaxListPages; ++page) {
    std::vector<std::string> page_codes;
    const std::int32_t result = market_->GetBrandList(page, page_codes);
    // A page that is not there, or holds no list, ends the listing. A page
    // after the first that fails in any other way (a server error, a cut or
    // changed page, a cancel) would end it too early: every issue of the
    // later pages would be missing from the database and from every later
    // stage without a word. Such a listing is refused; the stage stops and a
    // resume reads the pages again. A failing first page still falls back
    // to the fixed list, which holds every four-digit code.
    if (result < 0 && page_gave_codes && result != -404) {
      status = result;
      return {};
    }
    if (result < 0 || page_codes.empty()) break;
    for (const std::string& code : page_codes) {
      if (Acceptable(code)) codes.push_back(code);
    }
    page_gave_codes = true;
    if (listPagePauseMs_ > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(listPagePauseMs_));
    }
  }
  if (!page_gave_codes || codes.empty()) return FixedCodeList();
  return codes;
}

bool CDownloadRun::Acceptable(const std::string& code) {
  if (IsAcceptableIssueCode(code)) return true;
  rejectedCodes_.insert(code);
  return false;
}

bool CDownloadRun::TakeKeptCodeList(const WorkerProgress& progress) {
  std::int32_t count = 0;
  std::uint32_t hash = 0;
  const bool expected = TakeExpectedList(count, hash);
  if (progress.resume != 1) return false;
  // The same process resumes with the list it worked on; a new process
  // with the list kept beside the position, when it is that list.
  const auto matches = [&](const std::vector<std::string>& codes) {
    return static_cast<std::int32_t>(codes.size()) == count && HashIssueList(codes) == hash;
  };
  if (!codeList_.empty()) return !expected || matches(codeList_);
  if (!expected || !KeepsPositionFile()) return false;
  std::vector<std::string> kept;
  if (!ReadCodeListFile(CodeListFilePath(), kept) || !matches(kept)) return false;
  codeList_ = std::move(kept);
  return true;
}

bool CDownloadRun::DownloadIssues(WorkerProgress& progress) {
  // A resumed stage goes on through the code list it worked on: rebuilt
  // from the pages, the list could be another (the fixed one after a failing
  // first page, then the real listing), and the position would point into
  // it, so that the codes in between were never stored. Without that list
  // the stage starts again at its first code, which stores every issue
  // again as an update.
  if (!TakeKeptCodeList(progress)) {
    progress.resume = 0;
    progress.resumeIndex = 0;
    std::int32_t list_status = 0;
    codeList_ = BuildCodeList(list_status);
    if (list_status < 0) {
      SavePosition(progress, kStageIssues, progress.resumeIndex);
      if (Cancelled(list_status, progress)) return false;
      progress.SetError(
          std::string("ダウンロード(銘柄一覧)に失敗したので処理を中断します。\n\n") +
          market_->GetMessage(list_status));
      return false;
    }
    // Kept beside the position, so that another process can resume with
    // it. When it cannot be written, a resume starts the stage again.
    if (KeepsPositionFile()) (void)WriteCodeListFile(CodeListFilePath(), codeList_);
  }
  const std::vector<std::string>& codes = codeList_;
  SetStageList(codes);
  const std::int32_t count = static_cast<std::int32_t>(codes.size());
  std::int32_t first = 0;
  if (!BeginStage(progress, count, first)) return false;
  progress.total = count - first;
  if (first >= count) {
    progress.done = progress.total.load();
    return true;
  }

  std::map<std::string, std::int32_t> seen;
  std::int32_t index = first;
  for (;;) {
    SavePosition(progress, kStageIssues, index);
    if (progress.cancel) return false;

    CQuoteItems found;
    const std::int32_t before = index;
    const std::int32_t status = market_->GetPriceLast(index, codes, found);
    if (status < 0) {
      if (Cancelled(status, progress)) return false;
      progress.SetError(
          std::string("ダウンロード(銘柄存在チェック)に失敗したので処理を中断します。\n\n") +
          market_->GetMessage(status));
      return false;
    }
    // A source that examined no code would hold the loop on one index for
    // ever; it is taken as having examined the one at hand.
    if (index <= before) index = before + 1;

    std::stable_sort(found.begin(), found.end(),
                     [](const CQuoteItem& a, const CQuoteItem& b) {
                       return a.code < b.code;
                     });
    const std::int32_t batch = static_cast<std::int32_t>(found.size());
    for (std::int32_t pos = 0; pos < batch; ++pos) {
      if (progress.cancel) return false;
      const std::string& code = found[pos].code;
      if (!Acceptable(code) || seen[code]++ > 0) continue;

      CBrandRecord record;
      const std::int32_t detail = market_->GetBrand(code, record);
      if (detail < 0) {
        if (Cancelled(detail, progress)) return false;
        progress.SetError(
            StringFormat("ダウンロード(銘柄コード:%s)に失敗したので処理を中断します。\n\n",
                         code.c_str()) +
            market_->GetMessage(detail));
        return false;
      }
      // The row's key is the code that was asked for, whatever the page
      // or file said; a number that is not finite is stored as 0 (a
      // statement cannot hold it, and 0 is what an absent figure reads as).
      record.code = code;
      for (double* value : {&record.sharesOutstanding, &record.dividend, &record.eps, &record.bps}) {
        if (!std::isfinite(*value)) *value = 0.0;
      }
      if (!Database()->WriteBrand(record)) {
        progress.SetError(StringFormat(
            "銘柄コード %s の情報のデータベースへの書き込みに失敗したので処理を中断します\n%s",
            code.c_str(), DatabaseErrorText().c_str()));
        return false;
      }
      progress.SetStatus(StringFormat(
          "銘柄コード %s の銘柄データをダウンロードしました", code.c_str()));
      progress.done = (index - first) - (batch - pos) + 1;
    }
    if (index >= count) {
      progress.done = progress.total.load();
      return true;
    }
  }
}

bool CDownloadRun::LoadIssueList(WorkerProgress& progress) {
  std::vector<std::string> codes;
  if (Database() == nullptr || !Database()->GetCodesFrom(codes, "")) {
    progress.SetError("データベースから銘柄リストを読み込めませんでした");
    return false;
  }
  std::vector<std::string>& list = issueList();
  list.clear();
  for (const std::string& code : codes) {
    CBrandRecord record;
    if (!Database()->GetBrand(code, record)) {
      progress.SetError("データベースから銘柄データを読み込めませんでした");
      return false;
    }
    bool add = false;
    switch (record.kind) {
      case kKindIndex:
      case kKindCurrency:
        add = true;
        break;
      case kKindEtf:
        add = options().IsMarketChecked(CRunOptions::kEtf);
        break;
      case kKindReit:
        add = options().IsMarketChecked(CRunOptions::kReit);
        break;
      case kKindStock: {
        CRunOptions::MarketItem item = CRunOptions::kOtherMarkets;
        if (record.market == "東証プライム") {
          item = CRunOptions::kPrime;
        } else if (record.market == "東証スタンダード") {
          item = CRunOptions::kStandard;
        } else if (record.market == "東証グロース") {
          item = CRunOptions::kGrowth;
        }
        add = options().IsMarketChecked(item);
        break;
      }
      default:
        break;
    }
    if (add) list.push_back(code);
  }
  return true;
}

// ---- Stage 2: splits ----------------------------------------------------

bool CDownloadRun::DownloadSplits(WorkerProgress& progress) {
  if (!EnsureIssueList(progress)) return false;
  const std::vector<std::string>& issues = IssueList();
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  std::int32_t first = 0;
  if (!BeginStage(progress, count, first)) return false;
  progress.total = count - first;
  if (first >= count) return true;

  for (std::int32_t i = first; i < count; ++i) {
    SavePosition(progress, kStageSplits, i);
    if (progress.cancel) return false;
    const std::string& code = issues[i];

    std::vector<CDivideRecord> splits;
    const std::int32_t status = market_->GetDivide(code, splits);
    if (status < 0) {
      if (Cancelled(status, progress)) return false;
      progress.SetError(kDownloadFailed + market_->GetMessage(status));
      return false;
    }
    for (const CDivideRecord& split : splits) {
      // A split on a day that does not exist, or whose ratio is not a
      // positive number, would turn every adjusted price into nonsense: it
      // is refused and counted.
      if (!IsCalendarDate(split.date.ToNumber()) || !std::isfinite(split.ratio) ||
          split.ratio <= 0.0) {
        ++refusedRecords_;
        continue;
      }
      if (!Database()->WriteDivide(code, split)) {
        progress.SetError(StringFormat(
            "銘柄コード%sの分割情報のDBへの書き込みに失敗したので処理を中断します\n%s",
            code.c_str(), DatabaseErrorText().c_str()));
        return false;
      }
    }
    progress.SetStatus(StringFormat(
        "銘柄コード %s(%d/%d個目) の銘柄の分割データをDBに書き込みました",
        code.c_str(), i + 1, count));
    progress.done = i - first + 1;
  }
  return true;
}

// ---- The span loop of stages 3 and 4 -------------------------------------

bool CDownloadRun::FetchIssueSpans(
    WorkerProgress& progress, const std::string& code, std::int32_t i, std::int32_t count,
    std::int32_t doneBase, const char* statusFormat,
    const std::function<std::int32_t(std::uint32_t& from)>& fetch) {
  const std::uint32_t today_number = Today().ToNumber();
  std::uint32_t from = FirstDate().ToNumber();
  while (from <= today_number) {
    if (progress.cancel) return false;
    const std::uint32_t asked = from;
    const std::int32_t status = fetch(from);
    if (status < 0) {
      if (Cancelled(status, progress)) return false;
      progress.SetError(kDownloadFailed + market_->GetMessage(status));
      return false;
    }
    progress.done = DaysFrom(FirstDate(), from) + doneBase;
    progress.SetStatus(StringFormat(statusFormat, code.c_str(), i + 1, count,
                                    DayBeforeText(from).c_str()));
    // A source that did not move the date has nothing more to give.
    if (from <= asked) break;
  }
  return true;
}

bool CDownloadRun::FileWriteFailed(WorkerProgress& progress) {
  const std::string cause = LastFileError();
  progress.SetError(cause.empty() ? std::string(kFileWriteFailed)
                                  : std::string(kFileWriteFailed) + "\n\n" + cause);
  return false;
}

// ---- Stage 3: prices ----------------------------------------------------

bool CDownloadRun::FetchPrices(WorkerProgress& progress, std::int32_t i,
                               std::int32_t doneBase, CChartTable& quick_map) {
  const std::vector<std::string>& issues = IssueList();
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  const std::string& code = issues[i];
  const std::uint32_t today_number = Today().ToNumber();
  CChart chart;
  bool adjust = false;
  const bool fetched = FetchIssueSpans(
      progress, code, i, count, doneBase,
      "銘柄コード %s(%d/%d個目) の %s までの株価データをダウンロードしました",
      [&](std::uint32_t& from) {
        CQuoteItems bars;
        const std::uint32_t asked = from;
        const std::int32_t status =
            market_->GetPrice(from, today_number, code, bars, adjust);
        if (status < 0) return status;
        // Only bars a chart file can hold, inside the span asked for and
        // after the last one kept: a date out of the span (a far future one
        // would make the chart end there, filled up with copies), a repeated
        // or earlier date, or a value that is not a finite, non-negative
        // number is refused and counted. The chart stays strictly ascending.
        for (const CQuoteItem& item : bars) {
          const std::uint32_t date = item.record.DateNumber();
          if (!IsStorableBar(item.record) || date < asked || date > today_number ||
              (!chart.empty() && date <= chart.back().DateNumber())) {
            ++refusedRecords_;
            continue;
          }
          chart.push_back(item.record);
          chart.back().rawClose = 0.0;
        }
        return status;
      });
  if (!fetched) return false;
  if (chart.empty()) return true;

  if (adjust) {
    // The source gave split-adjusted bars: they are put back to the
    // prices as traded, which is how chart files hold them.
    // Without its splits the chart would be written with adjusted prices
    // as traded ones: a split list that cannot be read stops the stage.
    CDivide splits;
    if (!splits.Load(std::make_unique<CDivideLoaderDB2>(code, ""))) {
      progress.SetError("株式分割データを読み込めなかったので処理を中断します\n\n" +
                        DatabaseErrorText());
      return false;
    }
    splits.AdjustChart(chart, true, Today());
  }
  chart.FillGaps();
  // The 15:00 rule follows the run's reading, not the live clock: every
  // chart of the run ends on the same day.
  chart.ExtendTo(Today(), CChart::LocalTime{Reading().date, Reading().hour});
  const std::string daily = DailyFolder();
  ClearFileError();
  if (!chart.Save(std::make_unique<CChartSaverFile>(daily.c_str(), code, false))) {
    return FileWriteFailed(progress);
  }
  if (!IsOutsideQuickRange(code)) {
    quick_map[code].CopyLast(std::move(chart), kQuickPriceDepth);
  }
  return true;
}

bool CDownloadRun::DownloadPrices(WorkerProgress& progress) {
  if (!EnsureIssueList(progress)) return false;
  const std::int32_t count = static_cast<std::int32_t>(IssueList().size());
  std::int32_t first = 0;
  if (!BeginStage(progress, count, first)) return false;
  // The position stays at the resumed issue while the earlier ones are
  // checked.
  if (first > 0) SavePosition(progress, kStagePrices, first);
  return PriceStage(progress, first);
}

bool CDownloadRun::CheckPriceFiles(WorkerProgress& progress) {
  if (!EnsureIssueList(progress)) return false;
  return PriceStage(progress, static_cast<std::int32_t>(IssueList().size()));
}

bool CDownloadRun::PriceStage(WorkerProgress& progress, std::int32_t first) {
  const std::vector<std::string>& issues = IssueList();
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  const std::int32_t units = DaysInPeriod();
  progress.total = (count - first) * units;

  const std::string daily = DailyFolder();
  CChartTable quick_map;

  // A resumed stage does not fetch the issues before its position again:
  // their quick entries come from their chart files. It checks each file
  // first, though: one that is gone (a deleted or replaced daily folder)
  // or does not read is fetched again, so that the stage never ends with
  // an issue missing. An issue for which the source has no bar has no
  // file, and fetching it again gives nothing again, as in an undisturbed
  // run, so the quick file comes out the same either way.
  for (std::int32_t j = 0; j < first; ++j) {
    const std::string& code = issues[j];
    std::string path;
    std::error_code ec;
    CChart chart;
    const bool kept = BuildChartFilePath(daily, code, path) &&
                      std::filesystem::exists(path, ec) &&
                      chart.Load(std::make_unique<CChartLoaderFile>(daily.c_str(), code,
                                                                    kQuickPriceReload));
    if (!kept) {
      if (!FetchPrices(progress, j, 0, quick_map)) return false;
    } else if (!IsOutsideQuickRange(code)) {
      quick_map[code].CopyLast(std::move(chart), kQuickPriceDepth);
    }
  }

  for (std::int32_t i = first; i < count; ++i) {
    SavePosition(progress, kStagePrices, i);
    if (!FetchPrices(progress, i, (i - first) * units, quick_map)) return false;
  }

  const std::string quick_path = daily + "/" + "quick2.dat";
  std::string writer_error;
  ClearFileError();
  const std::int32_t written =
      WriteQuickPriceFile(quick_path.c_str(), quick_map, kQuickPriceDepth,
                          GapTolerance(), &writer_error);
  if (written < 0) {
    if (writer_error.empty()) writer_error = LastFileError();
    progress.SetError(StringFormat(
        "クイックDBを作成できなかったので処理を中断します(%d)\n\n%s", written,
        writer_error.c_str()));
    return false;
  }
  progress.done = progress.total.load();
  return true;
}

// ---- Stage 4: margin balances ------------------------------------------

bool CDownloadRun::FetchMargins(WorkerProgress& progress, std::int32_t i,
                                std::int32_t doneBase, CMarginTable& quick_map) {
  const std::vector<std::string>& issues = IssueList();
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  const std::string& code = issues[i];
  const std::uint32_t today_number = Today().ToNumber();
  CMargin margin;
  const bool fetched = FetchIssueSpans(
      progress, code, i, count, doneBase,
      "銘柄コード %s(%d/%d個目) の %s までの信用残データをダウンロードしました",
      [&](std::uint32_t& from) {
        std::vector<CMarginRecord> entries;
        const std::int32_t status =
            market_->GetMargin(from, today_number, code, entries);
        // The pages give their whole table whatever span was asked, so
        // a later call can repeat the weeks of an earlier one: only
        // entries after the last one held are added, keeping one entry a
        // week in ascending order (a file with repeated weeks would be
        // corrupt); those weeks are not counted as refused. An entry a
        // margin file cannot hold, or dated after today, is refused and
        // counted.
        if (status < 0) return status;
        for (const CMarginRecord& entry : entries) {
          if (!IsStorableEntry(entry) || entry.date.ToNumber() > today_number) {
            ++refusedRecords_;
          } else if (margin.empty() || margin.back().date < entry.date) {
            margin.push_back(entry);
          }
        }
        return status;
      });
  if (!fetched) return false;
  if (margin.empty()) return true;
  if (progress.cancel) return false;
  const std::string folder = MarginFolder();
  ClearFileError();
  if (!margin.Save(std::make_unique<CMarginSaverFile>(folder.c_str(), code))) {
    return FileWriteFailed(progress);
  }
  quick_map[code] = std::move(margin);
  return true;
}

bool CDownloadRun::DownloadMargins(WorkerProgress& progress) {
  if (!EnsureIssueList(progress)) return false;
  const std::vector<std::string>& issues = IssueList();
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  const std::int32_t units = DaysInPeriod();
  std::int32_t first = 0;
  if (!BeginStage(progress, count, first)) return false;
  progress.total = (count - first) * units;

  const std::string folder = MarginFolder();
  CMarginTable quick_map;

  // Issues before the resumed one, as in the price stage: their latest
  // entries come back from their margin files, and a file that is gone or
  // does not read is fetched again. Literally, a missing file would stand
  // in the quick file with no entries; fetching it again leaves out an
  // issue without margin balances, as an undisturbed run does, so the
  // resumed run writes the same "quickmg2.dat" byte for byte. Every code
  // is reloaded, as every code with entries goes into the map above.
  if (first > 0) SavePosition(progress, kStageMargin, first);
  for (std::int32_t j = 0; j < first; ++j) {
    const std::string& code = issues[j];
    std::string path;
    std::error_code ec;
    CMargin margin;
    const bool kept = BuildMarginFilePath(folder, code, path) &&
                      std::filesystem::exists(path, ec) &&
                      margin.Load(std::make_unique<CMarginLoaderFile>(folder.c_str(), code,
                                                                      kQuickMarginReload));
    if (!kept) {
      if (!FetchMargins(progress, j, 0, quick_map)) return false;
    } else {
      quick_map[code] = std::move(margin);
    }
  }

  for (std::int32_t i = first; i < count; ++i) {
    SavePosition(progress, kStageMargin, i);
    if (!FetchMargins(progress, i, (i - first) * units, quick_map)) return false;
  }

  const std::string quick_path = folder + "/" + "quickmg2.dat";
  std::string writer_error;
  ClearFileError();
  const std::int32_t written = WriteQuickMarginFile(
      quick_path.c_str(), quick_map, kQuickMarginDepth, &writer_error);
  if (written < 0) {
    if (writer_error.empty()) writer_error = LastFileError();
    progress.SetError(StringFormat(
        "クイックDB(信用残)を作成できなかったので処理を中断します(%d)\n\n%s",
        written, writer_error.c_str()));
    return false;
  }
  progress.done = progress.total.load();
  return true;
}
