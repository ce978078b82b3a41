#include "web/web_history.h"

#include <time.h>

#include <algorithm>
#include <atomic>

#include "db/private_brand.h"
#include "series/buffer_string.h"
#include "support/text.h"
#include "web/price_dates.h"
#include "web/price_pages.h"
#include "web/site_urls.h"
#include "web/url_encode.h"
#include "web/web_result.h"

namespace {

constexpr int64_t kDowCode = 1004;
constexpr int64_t kFutureCode = 1051;

// Milliseconds of a monotonic clock, wrapping at 32 bits like any
// millisecond timer. (<chrono> does not compile with this library's
// execution character set, hence the C library.)
uint32_t TimerMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

// Waits until the broker's spacing has passed since `last` (its last read,
// 0 before the first), or until `cancel` is set. A timer that reads less
// than `last` has wrapped: no wait then.
void WaitForBroker(uint32_t last, const std::atomic<std::uint8_t>* cancel) {
  for (;;) {
    if (cancel != nullptr && cancel->load() != 0) return;
    const uint32_t now = TimerMs();
    if (now < last || now - last >= CWebHistory::kBrokerSpacingMs) return;
    const timespec pause = {0, 1000000L};
    nanosleep(&pause, nullptr);
  }
}

void AppendBars(const std::string& code, const std::vector<CDayRecord>& bars,
                CQuoteItems& records) {
  for (const CDayRecord& bar : bars) {
    CQuoteItem item{code, bar};
    item.record.rawClose = item.record.close;
    records.push_back(std::move(item));
  }
}

}  // namespace

CWebHistory::CWebHistory(CLocalClock clock)
    : clock_(clock), exchange_(clock), futures_(clock) {}

void CWebHistory::SetClock(const CLocalClock& clock) {
  clock_ = clock;
  exchange_.SetClock(clock);
  futures_.SetClock(clock);
}

CWebHistory::~CWebHistory() = default;

void CWebHistory::SetAttempts(int32_t attempts) {
  stock_.Client().SetAttempts(attempts);
  exchange_.Client().SetAttempts(attempts);
  futures_.Client().SetAttempts(attempts);
}

void CWebHistory::SetCancelFlag(const std::atomic<std::uint8_t>* cancel) {
  stock_.Client().SetCancelFlag(cancel);
  exchange_.Client().SetCancelFlag(cancel);
  futures_.Client().SetCancelFlag(cancel);
}

void CWebHistory::ShareConnections(CHttpConnections* connections) {
  stock_.Client().ShareConnections(connections);
  exchange_.Client().ShareConnections(connections);
  futures_.Client().ShareConnections(connections);
}

void CWebHistory::SetRetryPause(uint32_t milliseconds) {
  stock_.Client().SetRetryPause(milliseconds);
  exchange_.Client().SetRetryPause(milliseconds);
  futures_.Client().SetRetryPause(milliseconds);
}

void CWebHistory::SetStallTimeout(int32_t seconds) {
  stock_.Client().SetStallTimeout(seconds);
  exchange_.Client().SetStallTimeout(seconds);
  futures_.Client().SetStallTimeout(seconds);
}

int32_t CWebHistory::GetPrice(uint32_t& from, uint32_t to, const std::string& code,
                              CQuoteItems& records, bool& adjust) {
  records.clear();
  adjust = false;
  const int64_t value = CPrivateBrand::DecimalValue(code);
  std::vector<CDayRecord> bars;
  int32_t result = 0;
  bool portalAdjust = false;
  if (value == kDowCode) {
    result = futures_.GetDowHistory(from, to, bars);
  } else if (value == kFutureCode) {
    result = futures_.GetFuturesHistory(from, to, bars);
  } else if (CPrivateBrand::HasPortalPage(code)) {
    result = exchange_.GetHistory(from, to, code, bars, portalAdjust);
  } else {
    return GetStockHistory(from, to, code, records);
  }
  if (result != 0) return result;
  AppendBars(code, bars, records);
  adjust = portalAdjust;
  return 0;
}

int32_t CWebHistory::GetStockHistory(uint32_t& from, uint32_t to, const std::string& code,
                                     CQuoteItems& records) {
  CDate first;
  CDate last;
  // A bound that is no date cannot be asked for.
  if (!first.FromNumber(from) || !last.FromNumber(to)) return kWebErrorPage;
  if (last.DaysBetween(first) >= kStockDaysPerRequest) {
    last = first.AddDays(kStockDaysPerRequest - 1);
    to = last.ToNumber();
  }
  CBufferString page;
  const std::string path =
      StringFormat("/quote/%s/history?from=%u&to=%u&timeFrame=d&page=1", UrlEncode(code).c_str(),
                   first.ToNumber(), last.ToNumber());
  const int32_t result = stock_.Client().Get(SiteAddress(Site::kFinance, path), page);
  if (result < 0) return result;
  std::vector<CDayRecord> rows;
  if (ReadStockHistoryPage(page, rows) != 0) return kWebErrorPage;

  // The page lists the newest row first. Walk the days, taking at most one
  // row a day from the oldest on; rows after the last day (a session not
  // yet closed, or beyond `to`) are never reached.
  const CDate lastDay = std::min(HistoryLastDay(clock_()), last);
  size_t next = rows.size();
  CDate day = first;
  for (int32_t guard = 0; guard <= kStockDaysPerRequest && day <= lastDay; ++guard) {
    if (next > 0 && rows[next - 1].DateNumber() <= day.ToNumber()) {
      records.push_back(CQuoteItem{code, rows[--next]});
    }
    day.NextDay();
  }
  from = DayAfter(to);
  return 0;
}

int32_t CWebHistory::GetPriceLast(int32_t& position, const std::vector<std::string>& codes,
                                  CQuoteItems& records) {
  records.clear();
  if (position < 0 || static_cast<size_t>(position) >= codes.size()) {
    position = static_cast<int32_t>(codes.size());
    return 0;
  }
  const std::string& code = codes[static_cast<size_t>(position)];
  const int64_t value = CPrivateBrand::DecimalValue(code);
  int32_t result = 0;
  if (value == kDowCode || value == kFutureCode || CPrivateBrand::HasPortalPage(code)) {
    CDayRecord bar;
    if (value == kDowCode) {
      result = futures_.GetDowQuote(bar);
    } else if (value == kFutureCode) {
      result = futures_.GetFuturesQuote(bar);
    } else {
      result = exchange_.GetQuote(code, bar);
    }
    if (result == 0) AppendBars(code, {bar}, records);
  } else {
    result = GetBrokerQuote(code, records);
    if (result != 0 && result != CHttpClient::kErrorCancelled) {
      result = GetStockInfoQuote(code, records);
    }
  }
  if (result == 0) ++position;
  return result;
}

int32_t CWebHistory::GetBrokerQuote(const std::string& code, CQuoteItems& records) {
  records.clear();
  WaitForBroker(lastBrokerRead_, stock_.Client().CancelFlag());
  CHttpClient::CCGIParams form;
  form.Add("ipm_product_code", code);
  form.Add("stock_name", "");
  form.Add("id", "検索");
  CBufferString page;
  const int32_t result = stock_.Client().Post(
      SiteAddress(Site::kBrokerMobile, "/bsite/price/searchStock.do"), {}, form, page);
  if (result < 0) return result;
  if (ReadBrokerQuotePage(page, StockQuoteDate(clock_()), records) != 0) {
    records.clear();
    return kWebErrorPage;
  }
  lastBrokerRead_ = TimerMs();
  return 0;
}

int32_t CWebHistory::GetStockInfoQuote(const std::string& code, CQuoteItems& records) {
  records.clear();
  CBufferString page;
  const int32_t result =
      stock_.Client().Get(SiteAddress(Site::kStockInfo, "/stock/" + UrlEncode(code)), page);
  if (result == -404) return 0;  // no page: no quote
  if (result < 0) return result;
  if (ReadStockInfoPage(page, StockQuoteDate(clock_()), records) != 0) {
    records.clear();
    return kWebErrorPage;
  }
  return 0;
}
