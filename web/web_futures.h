#ifndef TICKORA_WEB_WEB_FUTURES_H_
#define TICKORA_WEB_WEB_FUTURES_H_

#include <cstdint>
#include <vector>

#include "series/day_record.h"
#include "web/http_client.h"
#include <utility>
#include "web/local_clock.h"

// CWebFutures reads the Nikkei 225 future (code 1051) and the Dow average
// (code 1004): their histories from a futures data site and a Dow forecast
// site, their quotes from the broker's futures page and the finance
// portal's Dow page.
//
// Bars carry date, open, high, low and close; volume and rawClose are 0.
// Histories come oldest first and move `from` to the day after the
// (possibly shortened) `to`. Results: 0; a negative HTTP client code,
// passed on; kWebErrorPage when the page did not read (no bars then).
//
// The object owns its HTTP client; one thread at a time.
class CWebFutures {
 public:
  // A Dow history asks for at most this many calendar days at once.
  static constexpr int32_t kDowDaysPerRequest = 20;

  explicit CWebFutures(CLocalClock clock = SystemLocalTime);

  // The clock of the date rules, from the next question on.
  void SetClock(CLocalClock clock) { clock_ = std::move(clock); }
  virtual ~CWebFutures();
  CWebFutures(const CWebFutures&) = delete;
  CWebFutures& operator=(const CWebFutures&) = delete;

  // The future's bars dated from `from` to `to` (both included), from the
  // one page of daily data the site keeps.
  [[nodiscard]] int32_t GetFuturesHistory(uint32_t& from, uint32_t to, std::vector<CDayRecord>& bars);

  // The Dow's bars from `from` to `to`; a range of 20 days or more is cut to
  // its first 20 days.
  [[nodiscard]] int32_t GetDowHistory(uint32_t& from, uint32_t to, std::vector<CDayRecord>& bars);

  // The future's latest figures: dated today from 08:45 on a trading day,
  // else the trading day before.
  [[nodiscard]] int32_t GetFuturesQuote(CDayRecord& bar);

  // The Dow's latest figures: dated today from 22:00 on, else yesterday,
  // moved back to a weekday.
  [[nodiscard]] int32_t GetDowQuote(CDayRecord& bar);

  CHttpClient& Client() { return client_; }

 private:
  CLocalClock clock_;
  CHttpClient client_;
};

#endif  // TICKORA_WEB_WEB_FUTURES_H_
