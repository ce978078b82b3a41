#ifndef TICKORA_SETUP_DOWNLOAD_RUN_H_
#define TICKORA_SETUP_DOWNLOAD_RUN_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "series/series_table.h"
#include "setup/setup_run.h"
#include "web/local_clock.h"
#include "web/web_market.h"

// CDownloadRun is the setup run that fetches its data from a CWebMarket:
// the four download stages and the loading of the issue list.
//
//   1 DownloadIssues   lists the market, checks which codes exist and
//                      stores one 銘柄 row for each issue found.
//   2 DownloadSplits   stores the splits of every issue of the issue list.
//   3 DownloadPrices   writes one chart file per issue into the daily
//                      folder, then "quick2.dat" from the last 320 bars of
//                      every issue.
//   4 DownloadMargins  writes one margin file per issue into the margin
//                      folder, then "quickmg2.dat".
//
// Progress units: stages 1 and 2 count codes and issues; stages 3 and 4
// count issue-days (DaysInPeriod() units per issue). Each stage sets the
// record's stage and resumeIndex before it touches an issue and looks at
// cancel before each issue and each download request. During Run the
// market data source holds the record's cancel flag too, so a cancel also
// stops the download in progress; the stage then ends as cancelled (false,
// no error text) at the issue it was on, which a resume fetches anew.
//
// The object owns its market data source, whose clock is the run's one
// reading (CSetupRun::SetPeriod): the archive's file names, the readers'
// date rules and the last complete trading day of every chart follow it.
// Tests pass a scripted market.
class CDownloadRun : public CSetupRun {
 public:
  // `market` may be null: a CWebMarket is made then. The options object is
  // not owned and must outlive this object.
  CDownloadRun(const CRunOptions* options, std::unique_ptr<CWebMarket> market);
  ~CDownloadRun() override;

  CWebMarket& Market() { return *market_; }

  // Pause between two issue list pages, 100 ms unless changed.
  void SetListPagePause(std::int32_t milliseconds) {
    listPagePauseMs_ = milliseconds;
  }

  // Bars of an issue that go into "quick2.dat", bars read back from a chart
  // file to rebuild them on resume, and the same for margin entries.
  static constexpr std::int32_t kQuickPriceDepth = 320;
  static constexpr std::int32_t kQuickPriceReload = 330;
  static constexpr std::int32_t kQuickMarginDepth = 50;
  static constexpr std::int32_t kQuickMarginReload = 60;

  // Records from the sources that no file or row may hold, refused since
  // the object was made: bars and margin entries on a day that does not
  // exist, out of their span, repeated or out of order, or with a value
  // that is not a finite non-negative number; splits with such a date or
  // ratio.
  std::int64_t RefusedRecords() const { return refusedRecords_; }
  // Issue codes from the list pages or the existence check that broke the
  // code rule (support/issue_code.h): left out, never stored.
  std::size_t RejectedCodes() const { return rejectedCodes_.size(); }

  // True when the code is all decimal digits and its value is below 1300 or
  // above 9999: such issues (the built-in ones) stay out of "quick2.dat".
  [[nodiscard]] static bool IsOutsideQuickRange(const std::string& code);

  // The fixed code list used when the listing gives nothing: "1300" to
  // "9999" in ascending order.
  static std::vector<std::string> FixedCodeList();

 protected:
  [[nodiscard]] bool DownloadIssues(WorkerProgress& progress) override;
  [[nodiscard]] bool DownloadSplits(WorkerProgress& progress) override;
  [[nodiscard]] bool DownloadPrices(WorkerProgress& progress) override;
  [[nodiscard]] bool CheckPriceFiles(WorkerProgress& progress) override;
  [[nodiscard]] bool DownloadMargins(WorkerProgress& progress) override;
  [[nodiscard]] bool LoadIssueList(WorkerProgress& progress) override;
  void SetArchivePreference(bool use_archive) override;
  void SetCancelFlag(const std::atomic<std::uint8_t>* cancel) override;

 private:
  // The candidate codes of stage 1: every code of the list pages, or the
  // fixed list when no page gave any. `status` is negative when a page
  // after the first failed other than by not being there (404): the
  // listing is then incomplete and the codes are not to be used.
  std::vector<std::string> BuildCodeList(std::int32_t& status);
  // For a resumed stage 1: true when the code list it worked on is at hand
  // (kept in memory, or in the folder's code list file and matching the
  // position), and then in codeList_.
  [[nodiscard]] bool TakeKeptCodeList(const WorkerProgress& progress);
  // True when `code` keeps the code rule; otherwise notes it as rejected.
  [[nodiscard]] bool Acceptable(const std::string& code);
  // "%u/%u/%u" of the day before date number `from`.
  static std::string DayBeforeText(std::uint32_t from);
  // The span loop of the price and margin stages for issue `i` of `count`:
  // calls `fetch(from)` from the first date on, which asks the source from
  // `from` up to today, keeps what it got and returns the source's status,
  // until `from` passes today or the source stops moving it. Each span sets
  // the record's done figure (`doneBase` plus the days reached) and status
  // (`statusFormat`: code, position, count, last day fetched). False when
  // the stage is to stop: a cancel, or a failure, whose error text is then
  // set.
  [[nodiscard]] bool FetchIssueSpans(WorkerProgress& progress, const std::string& code, std::int32_t i,
                       std::int32_t count, std::int32_t doneBase, const char* statusFormat,
                       const std::function<std::int32_t(std::uint32_t& from)>& fetch);
  // Fetches issue `i` of the issue list whole, writes its chart or margin
  // file and puts it into the quick map. True also for an issue without
  // data (no file then); false when the stage is to stop.
  [[nodiscard]] bool FetchPrices(WorkerProgress& progress, std::int32_t i, std::int32_t doneBase,
                   CChartTable& quick_map);
  [[nodiscard]] bool FetchMargins(WorkerProgress& progress, std::int32_t i, std::int32_t doneBase,
                    CMarginTable& quick_map);
  // The price stage from issue `first` on: the issues before it are only
  // checked (their chart files read back, fetched again when gone), the
  // rest fetched; then "quick2.dat" from all of them.
  [[nodiscard]] bool PriceStage(WorkerProgress& progress, std::int32_t first);
  // Sets the error of a chart or margin file that could not be written,
  // with its cause; always false.
  [[nodiscard]] static bool FileWriteFailed(WorkerProgress& progress);

  std::unique_ptr<CWebMarket> market_;
  std::int32_t listPagePauseMs_ = 100;
  // Stage 1's code list, kept while the run object lives, so that a resume
  // in the same process goes on through the same list.
  std::vector<std::string> codeList_;
  std::int64_t refusedRecords_ = 0;
  std::set<std::string> rejectedCodes_;
};

#endif  // TICKORA_SETUP_DOWNLOAD_RUN_H_
