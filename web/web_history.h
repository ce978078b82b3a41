#ifndef TICKORA_WEB_WEB_HISTORY_H_
#define TICKORA_WEB_WEB_HISTORY_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "series/quote_item.h"
#include "web/http_client.h"
#include "web/local_clock.h"
#include "web/web_exchange.h"
#include "web/web_futures.h"
#include "web/web_stock.h"

// CWebHistory answers the two price questions of the market data source
// from web pages, choosing the source by the issue code:
//   1004 (the Dow average) and 1051 (the Nikkei 225 future): CWebFutures;
//   the indices 1001-1003 and the currency pairs: CWebExchange;
//   any other code, a listed stock: the finance portal's history pages for
//   bars, and for the latest bar the broker's mobile quote form, then the
//   stock information site when the broker cannot answer.
//
// Items carry the requested code (the stock quotes: the code the page
// shows) and a CDayRecord. Built-in issues' records have volume 0 (none is
// read) and rawClose equal to the close; a stock's history rows keep the
// page's adjusted close as rawClose.
//
// Results: 0; a negative HTTP client code, passed on; the readers' codes
// of web_result.h. Outputs are emptied first.
//
// The broker's site is asked at most about three times a second: a read
// waits until 300 ms have passed since the last successful one of this
// object (a setup run asks through one object for its whole length). A
// cancel (see SetCancelFlag) ends the wait at once.
//
// The object owns a CWebStock, whose HTTP client fetches the listed
// stocks' pages, and a CWebExchange and a CWebFutures for the built-in
// issues; one thread at a time. The clock decides the date rules (the last day of
// a history, the date of a quote).
class CWebHistory {
 public:
  // A stock history asks for at most this many calendar days at once.
  static constexpr int32_t kStockDaysPerRequest = 25;
  // The least spacing of the broker's reads.
  static constexpr uint32_t kBrokerSpacingMs = 300;

  CWebHistory(CLocalClock clock = SystemLocalTime);

  // The clock of the date rules (its own and its readers'), from the next
  // question on.
  void SetClock(const CLocalClock& clock);
  virtual ~CWebHistory();
  CWebHistory(const CWebHistory&) = delete;
  CWebHistory& operator=(const CWebHistory&) = delete;

  // The daily bars of `code` from `from` on, ascending. `from` moves past
  // the days covered, so the caller asks again while it is not after `to`.
  // `adjust` is what the source reports: true for the portal's indices and
  // currency pairs, false for the stock pages (prices as traded), the Dow
  // and the future.
  [[nodiscard]] std::int32_t GetPrice(std::uint32_t& from, std::uint32_t to, const std::string& code,
                        CQuoteItems& records, bool& adjust);

  // The latest bar of codes[position], then position moves on by one. A
  // code the broker does not list, or whose page is missing or marks it
  // delisted on the second site, gives 0 and no item. On failure position
  // stays where it was.
  [[nodiscard]] std::int32_t GetPriceLast(std::int32_t& position, const std::vector<std::string>& codes,
                            CQuoteItems& records);

  // Attempts and the pause between them, for every client the object uses.
  void SetAttempts(int32_t attempts);
  void SetRetryPause(uint32_t milliseconds);
  // The stall limit (CHttpClient::SetStallTimeout) of every client.
  void SetStallTimeout(int32_t seconds);
  // The cancel flag (CHttpClient::SetCancelFlag) of every client the
  // object uses; not owned, may be null. A cancelled read gives
  // CHttpClient::kErrorCancelled and asks no second site.
  void SetCancelFlag(const std::atomic<std::uint8_t>* cancel);
  // The connection cache (CHttpClient::ShareConnections) of every client
  // the object uses; not owned, may be null (each its own).
  void ShareConnections(CHttpConnections* connections);

 private:
  [[nodiscard]] int32_t GetStockHistory(std::uint32_t& from, std::uint32_t to, const std::string& code,
                          CQuoteItems& records);
  [[nodiscard]] int32_t GetBrokerQuote(const std::string& code, CQuoteItems& records);
  [[nodiscard]] int32_t GetStockInfoQuote(const std::string& code, CQuoteItems& records);

  CLocalClock clock_;
  CWebStock stock_;
  CWebExchange exchange_;
  CWebFutures futures_;
  // When the broker last answered a read (TimerMs); 0 before the first.
  uint32_t lastBrokerRead_ = 0;
};

#endif  // TICKORA_WEB_WEB_HISTORY_H_
