#include "setup/download_run.h"

#include <algorithm>
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
#include "series/series_table.h"
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
                           std::unique_ptr<CWebMarket> market,
                           CLocalClock clock)
    : CSetupRun(options), market_(std::move(market)), clock_(std::move(clock)) {
  if (!market_) market_ = std::make_unique<CWebMarket>(clock_);
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

std::string CDownloadRun::DatabaseErrorText() const {
  std::string text;
  if (Database() != nullptr) Database()->GetError(&text);
  return text;
}

std::string CDownloadRun::LastDayText(std::uint32_t from) {
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
    codes.insert(codes.end(), page_codes.begin(), page_codes.end());
    page_gave_codes = true;
    if (listPagePauseMs_ > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(listPagePauseMs_));
    }
  }
  if (!page_gave_codes || codes.empty()) return FixedCodeList();
  return codes;
}

bool CDownloadRun::DownloadIssues(WorkerProgress& progress) {
  std::int32_t list_status = 0;
  const std::vector<std::string> codes = BuildCodeList(list_status);
  if (list_status < 0) {
    EnterIssue(progress, 1, progress.resumeIndex);
    if (Cancelled(list_status, progress)) return false;
    progress.SetError(
        std::string("ダウンロード(銘柄一覧)に失敗したので処理を中断します。\n\n") +
        market_->GetMessage(list_status));
    return false;
  }
  const std::int32_t count = static_cast<std::int32_t>(codes.size());
  const std::int32_t first = TakeFirstIndex(progress);
  progress.total = count - first;
  if (first >= count) {
    progress.done = progress.total.load();
    return true;
  }

  std::map<std::string, std::int32_t> seen;
  std::int32_t index = first;
  for (;;) {
    EnterIssue(progress, 1, index);
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
      if (seen[code]++ > 0) continue;

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
      if (record.code.empty()) record.code = code;
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
  const std::int32_t first = TakeFirstIndex(progress);
  progress.total = count - first;
  if (first >= count) return true;

  for (std::int32_t i = first; i < count; ++i) {
    EnterIssue(progress, 2, i);
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
    WorkerProgress& progress, const std::string& code, std::int32_t i, std::int32_t first,
    std::int32_t count, const char* statusFormat,
    const std::function<std::int32_t(std::uint32_t& from)>& fetch) {
  const std::int32_t units = DaysInPeriod();
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
    progress.done = DaysFrom(FirstDate(), from) + (i - first) * units;
    progress.SetStatus(StringFormat(statusFormat, code.c_str(), i + 1, count,
                                    LastDayText(from).c_str()));
    // A source that did not move the date has nothing more to give.
    if (from <= asked) break;
  }
  return true;
}

// ---- Stage 3: prices ----------------------------------------------------

bool CDownloadRun::DownloadPrices(WorkerProgress& progress) {
  if (!EnsureIssueList(progress)) return false;
  const std::vector<std::string>& issues = IssueList();
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  const std::int32_t units = DaysInPeriod();
  const std::int32_t first = TakeFirstIndex(progress);
  progress.total = (count - first) * units;

  const std::string daily = DailyFolder();
  const std::uint32_t today_number = Today().ToNumber();
  CChartTable quick_map;

  for (std::int32_t i = first; i < count; ++i) {
    const std::string& code = issues[i];
    CChart chart;
    bool adjust = false;
    EnterIssue(progress, 3, i);
    const bool fetched = FetchIssueSpans(
        progress, code, i, first, count,
        "銘柄コード %s(%d/%d個目) の %s までの株価データをダウンロードしました",
        [&](std::uint32_t& from) {
          CQuoteItems bars;
          const std::int32_t status =
              market_->GetPrice(from, today_number, code, bars, adjust);
          if (status >= 0) CChart::AppendRecords(bars, chart, true);
          return status;
        });
    if (!fetched) return false;
    if (chart.empty()) continue;

    if (adjust) {
      // The source gave split-adjusted bars: they are put back to the
      // prices as traded, which is how chart files hold them.
      CDivide splits;
      splits.Load(std::make_unique<CDivideLoaderDB2>(code, ""));
      splits.AdjustChart(chart, true, Today());
    }
    chart.FillGaps();
    const CLocalTime now = clock_();
    chart.ExtendTo(Today(), CChart::LocalTime{now.date, now.hour});
    if (!chart.Save(std::make_unique<CChartSaverFile>(daily.c_str(), code,
                                                      false))) {
      progress.SetError(kFileWriteFailed);
      return false;
    }
    if (!IsOutsideQuickRange(code)) {
      quick_map[code].CopyLast(std::move(chart), kQuickPriceDepth);
    }
  }

  // A resumed stage rebuilds the quick entries of the issues before the one
  // it resumed at from their chart files. An issue for which the source had
  // no bar has no chart file, and a full run leaves it out of the quick
  // file too, so a missing file is skipped rather than failing the run: the
  // resumed run then writes the same quick file a full run would. A file
  // that is there but cannot be read still stops the stage.
  for (std::int32_t j = 0; j < first && j < count; ++j) {
    const std::string& code = issues[j];
    if (IsOutsideQuickRange(code)) continue;
    std::string path;
    std::error_code ec;
    if (!BuildChartFilePath(daily, code, path) ||
        !std::filesystem::exists(path, ec)) {
      continue;
    }
    CChart chart;
    if (!chart.Load(std::make_unique<CChartLoaderFile>(daily.c_str(), code,
                                                       kQuickPriceReload))) {
      progress.SetError(StringFormat(
          "DBから価格データ(%s)の読み込みに失敗したので処理を中断します",
          code.c_str()));
      return false;
    }
    quick_map[code].CopyLast(std::move(chart), kQuickPriceDepth);
  }

  const std::string quick_path = daily + "/" + "quick2.dat";
  std::string writer_error;
  const std::int32_t written =
      WriteQuickPriceFile(quick_path.c_str(), quick_map, kQuickPriceDepth,
                          GapTolerance(), &writer_error);
  if (written < 0) {
    progress.SetError(StringFormat(
        "クイックDBを作成できなかったので処理を中断します(%d)\n\n%s", written,
        writer_error.c_str()));
    return false;
  }
  progress.done = progress.total.load();
  return true;
}

// ---- Stage 4: margin balances ------------------------------------------

bool CDownloadRun::DownloadMargins(WorkerProgress& progress) {
  if (!EnsureIssueList(progress)) return false;
  const std::vector<std::string>& issues = IssueList();
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  const std::int32_t units = DaysInPeriod();
  const std::int32_t first = TakeFirstIndex(progress);
  progress.total = (count - first) * units;

  const std::string folder = MarginFolder();
  const std::uint32_t today_number = Today().ToNumber();
  CMarginTable quick_map;

  for (std::int32_t i = first; i < count; ++i) {
    const std::string& code = issues[i];
    CMargin margin;
    EnterIssue(progress, 4, i);
    const bool fetched = FetchIssueSpans(
        progress, code, i, first, count,
        "銘柄コード %s(%d/%d個目) の %s までの信用残データをダウンロードしました",
        [&](std::uint32_t& from) {
          std::vector<CMarginRecord> entries;
          const std::int32_t status =
              market_->GetMargin(from, today_number, code, entries);
          // The pages give their whole table whatever span was asked, so
          // a later call can repeat the weeks of an earlier one: only
          // entries after the last one held are added, keeping one entry a
          // week in ascending order (a file with repeated weeks would be
          // corrupt).
          for (const CMarginRecord& entry : entries) {
            if (status >= 0 && (margin.empty() || margin.back().date < entry.date)) {
              margin.push_back(entry);
            }
          }
          return status;
        });
    if (!fetched) return false;
    if (margin.empty()) continue;
    if (progress.cancel) return false;
    if (!margin.Save(std::make_unique<CMarginSaverFile>(folder.c_str(), code))) {
      progress.SetError(kFileWriteFailed);
      return false;
    }
    quick_map[code] = std::move(margin);
  }

  // Issues before the resumed one: their latest entries come back from
  // their margin files. A missing or unreadable file is not looked at; the
  // issue then stands in the quick file without entries.
  for (std::int32_t j = 0; j < first && j < count; ++j) {
    const std::string& code = issues[j];
    if (IsOutsideQuickRange(code)) continue;
    quick_map[code].Load(std::make_unique<CMarginLoaderFile>(
        folder.c_str(), code, kQuickMarginReload));
  }

  const std::string quick_path = folder + "/" + "quickmg2.dat";
  std::string writer_error;
  const std::int32_t written = WriteQuickMarginFile(
      quick_path.c_str(), quick_map, kQuickMarginDepth, &writer_error);
  if (written < 0) {
    progress.SetError(StringFormat(
        "クイックDB(信用残)を作成できなかったので処理を中断します(%d)\n\n%s",
        written, writer_error.c_str()));
    return false;
  }
  progress.done = progress.total.load();
  return true;
}
