#ifndef TICKORA_TOOLS_MARKET_SIM_SIM_MARKET_H_
#define TICKORA_TOOLS_MARKET_SIM_SIM_MARKET_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/brand_map.h"
#include "db/brand_record.h"
#include "db/divide.h"
#include "db/divide_map.h"
#include "series/chart.h"
#include "series/margin.h"
#include "series/series_table.h"
#include "support/date.h"

// The simulated market: a synthetic Japanese equity market that the
// market-sim server publishes as archive files and web pages. Everything in
// it follows from a seed and the options below; the same options give the
// same market, byte for byte, on every run and machine.
//
// Only the issue list is made when the market is built (a few milliseconds
// for thousands of issues). Price series, splits and margin balances are
// made on demand: every issue has a seed of its own, and any calendar year
// of any issue can be made without the years before it, so a series is
// never stored for longer than a small cache keeps it.
//
// Texts (names, markets, industries) are CP932, as everywhere in the
// system; a page converts them to UTF-8 (support/cp932.h) when it writes
// them.

// What the market is made from.
struct CSimMarketOptions {
  uint64_t seed = 1;
  // Listed issues (stocks, ETFs, REITs), the built-in issues not counted.
  int32_t issueCount = 4000;
  // The first year with bars (from its first trading day).
  uint32_t firstYear = 2000;
  // The market's today: the bars end on the last trading day on or before
  // it. The empty date means the local date when the market is built.
  CDate today;
  // The day the market's life is drawn up to: listings, delistings and
  // splits fall between its first date and the horizon, and those after
  // today have not happened yet. Markets of the same seed and horizon agree
  // on every day up to the earlier of their todays, and the later one has
  // what happened in between (new listings, delistings, splits, new days
  // and weeks). The empty date, or one before today, means today.
  CDate horizon = CDate();
  // How many issues' whole series Series() keeps at most.
  size_t cacheIssues = 64;
  // List about one stock in a hundred (at least one in a market of eight or
  // more issues) on a market name that is no longer in use, as the pages of
  // issues that never moved on show it. Off by default: the readers refuse
  // such an issue, so a run against a market with them cannot finish.
  bool retiredMarkets = false;
};

// One issue of the market. The record holds what the issue list file holds
// and what a reader of the issue pages gives: code, kind, market, industry
// (empty for ETFs and REITs), name, trading unit, margin status (0: no
// margin trading, then no margin balances), shares outstanding, dividend,
// EPS and BPS.
struct CSimIssue {
  CBrandRecord record;
  // One of the fourteen built-in issues (indices, the Dow, the future and
  // the currency pairs), whose record has an empty market and industry.
  bool builtIn = false;
  // The market is a name that is no longer in use ("東証1部", "マザーズ",
  // "東証JQS", ...); only with CSimMarketOptions::retiredMarkets.
  bool retiredMarket = false;
  // The quote page shows "自動" where the market belongs; the record says
  // "非上場", the name the readers give that market.
  bool autoMarket = false;
  // The quote page has no industry link, so the date of the last bar stands
  // where the industry belongs; the record says "業種なし".
  bool noIndustry = false;
  // Where the pages write the company-form mark "(株)" around the name. The
  // record's name goes without it, as the issue list file holds it and as
  // the readers of the pages give it.
  enum class CompanyMark { kNone, kBefore, kAfter };
  CompanyMark companyMark = CompanyMark::kNone;
  // A company that expects a loss: the pages show its EPS with a minus sign
  // and no PER. The record holds the figure without its sign, as the issue
  // list file holds it and as the readers of the pages give it.
  bool loss = false;
  // The first day with a bar: the market's first date, or the listing day
  // of an issue listed later.
  CDate listed;
  // The last day with a bar of a delisted issue; empty while listed.
  CDate delisted;

  // Listed on `date`: from `listed` on, and up to `delisted` when set.
  bool IsListedOn(const CDate& date) const;
  bool IsDelisted() const { return delisted.year != 0; }
  // The name and the EPS as the pages show them.
  std::string ShownName() const;
  double ShownEps() const { return loss ? -record.eps : record.eps; }
};

// The whole series of one issue, from its first to its last bar.
//
// `raw` holds the bars as traded, in the share count of their own day, as
// the history and quote pages and the archive files show them (the files
// as float32). `adjusted` holds the same bars restated on today's share
// count (prices divided, volumes multiplied by the ratios of the splits
// after each bar), as the charting application shows them; its values are
// exact float32 numbers. In both, rawClose is the traded close.
//
// Some trading days have no bar (no trade that day). Stocks, the Japanese
// indices and the future trade on the trading days of CDate's calendar;
// the Dow and the currency pairs on every Monday to Friday but New Year's
// Day and Christmas.
//
// `margin` holds the weekly margin balances as reported (in the share
// count of their week), dated on the last trading day of each week, as
// the margin pages and the archive files show them; `adjustedMargin` the
// same restated on today's share count. Both are empty for an issue without margin
// trading and for the built-in issues.
struct CSimSeries {
  CChart raw;
  CChart adjusted;
  CDivide splits;  // ascending; ratio = new shares per old share
  CMargin margin;
  CMargin adjustedMargin;
};

// CSimMarket owns the issue list and a cache of recently made series. All
// its operations are const and may be called from any number of threads
// at once. It is not copyable.
class CSimMarket {
 public:
  explicit CSimMarket(const CSimMarketOptions& options);
  ~CSimMarket();
  CSimMarket(const CSimMarket&) = delete;
  CSimMarket& operator=(const CSimMarket&) = delete;

  const CSimMarketOptions& Options() const { return options_; }

  // The market's today (the options' today, or the local date it stood
  // for), the first date with bars (the first trading day of the first
  // year) and the last (the last trading day on or before today).
  const CDate& Today() const { return today_; }
  const CDate& FirstDate() const { return firstDate_; }
  const CDate& LastDate() const { return lastDate_; }

  // Every issue, the built-in ones included, ordered by code byte by byte
  // (the order of CBrandMap). The vector lives as long as the market.
  const std::vector<CSimIssue>& Issues() const { return issues_; }

  // The issue with `code`, or nullptr.
  const CSimIssue* Find(const std::string& code) const;

  // The whole series of the issue with `code`, made on first use and kept
  // in the cache for a while; nullptr for an unknown code. The series
  // stays valid as long as the pointer is held.
  std::shared_ptr<const CSimSeries> Series(const std::string& code) const;

  // ---- Whole-market views, as the archive files hold them ----------------

  // The issue list as of `date`: the records of the listed issues (not the
  // built-in ones) listed on that day.
  void BrandsOn(const CDate& date, CBrandMap& out) const;

  // The splits of every issue dated on or before `date`.
  void SplitsUpTo(const CDate& date, CDivideMap& out) const;

  // The bars as traded (`raw`) of every issue (built-in ones included)
  // dated from `from` to `to` (date numbers, both included) within one
  // calendar year; issues without bars there are left out. Made without
  // the cache. The archive's price files carry these.
  void TradedBars(uint32_t from, uint32_t to, CChartTable& out) const;

  // The margin balances as reported (`margin`) of every issue dated from
  // `from` to `to` within one calendar year; issues without entries there
  // are left out. The archive's margin files carry these.
  void ReportedMargins(uint32_t from, uint32_t to, CMarginTable& out) const;

  // The last bar as traded on or before `date` of every issue listed on
  // that day (the archive's latest-price file).
  void LatestBars(const CDate& date, CChartTable& out) const;

 private:
  struct IssueModel;  // the hidden parameters of one issue
  struct YearPart;    // one calendar year of one issue's series

  void BuildCalendar();
  void BuildIssues();
  void AddBuiltIns(std::vector<std::pair<CSimIssue, IssueModel>>& made);
  // The days of `year` on the exchange's calendar, or Monday to Friday
  // (less New Year's Day and Christmas); empty outside the market's years.
  const std::vector<uint32_t>& Days(bool weekdays, uint32_t year) const;
  // Makes the bars (and/or the margin balances) of `model` in `year`.
  void MakeYear(const IssueModel& model, uint32_t year, bool bars,
                bool margins, YearPart& part) const;
  std::shared_ptr<CSimSeries> MakeSeries(const IssueModel& model) const;

  CSimMarketOptions options_;
  CDate today_;
  CDate firstDate_;
  CDate lastDate_;
  CDate horizonDate_;  // the last trading day on or before the horizon
  std::vector<CSimIssue> issues_;
  std::vector<IssueModel> models_;  // parallel to issues_
  std::map<std::string, size_t> index_;
  // Per year from the first: trading days, Monday-to-Friday days, and the
  // last trading day of each week, as date numbers.
  std::vector<std::vector<uint32_t>> japanDays_;
  std::vector<std::vector<uint32_t>> weekDays_;
  std::vector<std::vector<uint32_t>> weekEnds_;

  // The cache: most recently used first.
  mutable std::mutex cacheMutex_;
  mutable std::list<std::pair<std::string, std::shared_ptr<const CSimSeries>>>
      cache_;
};

#endif  // TICKORA_TOOLS_MARKET_SIM_SIM_MARKET_H_
