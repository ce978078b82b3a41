#ifndef TICKORA_WEB_WEB_MARKET_H_
#define TICKORA_WEB_WEB_MARKET_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/brand_record.h"
#include "db/divide_record.h"
#include "series/margin_record.h"
#include "series/quote_item.h"
#include "web/local_clock.h"

class CHttpConnections;
class CWebArchive;
class CWebHistory;
class CWebStock;

// CWebMarket is the single data source of the four setup stages. With the
// archive preference on (the default) every question goes to the bulk
// archive first and, on a negative archive result, to the page readers;
// with it off, straight to the page readers. The issue list pages are
// always read from the web.
//
// Result codes: 0 or more is success (1: the archive is loaded but has no
// entry for the issue); -1 to -599 minus an HTTP status; -1000 to -1011 the
// HTTP client's failures; -10000 and below the page readers' codes; -20000
// and below the archive's. GetMessage gives the Japanese text of any code.
//
// Cancel: SetCancelFlag hands one flag to every HTTP client the object
// uses. A question whose download was cancelled gives
// CHttpClient::kErrorCancelled at once: a cancel is the user's wish, not an
// archive failure, so the page readers are not asked then, and nothing of
// the interrupted download is kept, so the same question asked again later
// fetches it anew.
//
// Dates are date numbers (year * 10000 + month * 100 + day). `from` is
// advanced past the days an answer covers, so a caller loops while from is
// not after to. Outputs are emptied before they are filled.
//
// An issue missing from a loaded issue file (GetBrand's 1) is asked of the
// pages too: stored as a blank row it would have no kind and drop out of
// every later stage. A local fault of the archive client (a full or
// read-only temporary folder, CWebArchive::kErrorLocal) is final like a
// cancel: it says nothing about the archive, and the pages hold far less
// history.
//
// The object owns its archive client and page readers; the archive keeps
// every file it has loaded until the object goes. The page readers share
// one cache of connections, so that each site is reached over one kept
// connection whichever reader asks; the archive client keeps its own.
// One thread at a time.
// The operations are virtual so that tests can script a source.
class CWebMarket {
 public:
  // `clock` is handed to the archive client and the page readers for their
  // date rules.
  explicit CWebMarket(CLocalClock clock = SystemLocalTime);
  virtual ~CWebMarket();
  CWebMarket(const CWebMarket&) = delete;
  CWebMarket& operator=(const CWebMarket&) = delete;

  // The record of one issue.
  [[nodiscard]] virtual std::int32_t GetBrand(const std::string& code, CBrandRecord& record);
  // The issue codes of one issue list page (pages count from 1); no codes
  // with result 0 means the pages are exhausted.
  [[nodiscard]] virtual std::int32_t GetBrandList(std::int32_t page,
                                    std::vector<std::string>& codes);
  // Every split of one issue, in date order.
  [[nodiscard]] virtual std::int32_t GetDivide(const std::string& code,
                                 std::vector<CDivideRecord>& splits);
  // Daily bars of one issue from `from` to `to`, ascending. `adjust` tells
  // whether the bars still need the split adjustment.
  [[nodiscard]] virtual std::int32_t GetPrice(std::uint32_t& from, std::uint32_t to,
                                const std::string& code, CQuoteItems& records,
                                bool& adjust);
  // The latest bar of the codes from `position` on; advances `position`
  // past the codes served (50 a call from the archive, one from the pages).
  [[nodiscard]] virtual std::int32_t GetPriceLast(std::int32_t& position,
                                    const std::vector<std::string>& codes,
                                    CQuoteItems& records);
  // Weekly margin balances of one issue, ascending.
  [[nodiscard]] virtual std::int32_t GetMargin(std::uint32_t& from, std::uint32_t to,
                                 const std::string& code,
                                 std::vector<CMarginRecord>& records);
  // The Japanese text (CP932) of a result code.
  virtual std::string GetMessage(std::int32_t result) const;
  // Posts the usage record of `event` to the maker's log server
  // (web/usage_log.h); its outcome is never examined.
  virtual void PostUsageLog(const std::string& event);

  // The clock of every date rule of the archive client and the page
  // readers, from the next question on: a setup run hands them its one
  // reading of the clock, so that every file name, cut-off and "today" of
  // the run agrees, however long it lasts.
  void SetClock(const CLocalClock& clock);

  void SetArchivePreference(bool use_archive) { useArchive_ = use_archive; }
  [[nodiscard]] bool ArchivePreference() const { return useArchive_; }

  // With the archive preference on, the archive's price (and, with
  // `margins`, margin) year files from January of `firstYear` on start to
  // download ahead of the questions (CWebArchive::FetchPricesAhead), so
  // that a run works while they arrive; StopAhead ends that. Virtual so
  // that a scripted source can leave the archive alone.
  virtual void FetchAhead(std::int32_t firstYear, bool prices, bool margins);
  virtual void StopAhead();
  // The flag that cancels the download in progress and every later one
  // while it is set; not owned, may be null (none). It must stay valid
  // while the object may download.
  void SetCancelFlag(const std::atomic<std::uint8_t>* cancel);

  // The sources themselves, for their attempt counts and retry pauses.
  CWebArchive& Archive() { return *archive_; }
  CWebStock& Stock() { return *stock_; }
  CWebHistory& History() { return *history_; }

  // True when an archive result stands as the answer: an answer (0 or 1),
  // a cancel or a local fault. Other failures go on to the pages.
  [[nodiscard]] static bool IsFinal(std::int32_t archive_result);

 private:
  // Before the readers, so that it goes after them.
  std::unique_ptr<CHttpConnections> connections_;
  std::unique_ptr<CWebStock> stock_;
  std::unique_ptr<CWebHistory> history_;
  std::unique_ptr<CWebArchive> archive_;
  bool useArchive_ = true;
};

#endif  // TICKORA_WEB_WEB_MARKET_H_
