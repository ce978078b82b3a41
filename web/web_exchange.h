#ifndef TICKORA_WEB_WEB_EXCHANGE_H_
#define TICKORA_WEB_WEB_EXCHANGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "series/day_record.h"
#include "web/http_client.h"
#include <utility>
#include "web/local_clock.h"

// CWebExchange reads the built-in indices (1001-1003) and currency pairs
// (1101-1109) from the index portal, at the page addresses the built-in
// issue table (CPrivateBrand) holds for each code.
//
// Bars carry date, open, high, low and close; volume and rawClose are 0.
// Results: 0; a negative HTTP client code, passed on; kWebErrorPage when
// the page did not read; kWebErrorNoPortalPage for a code without portal
// pages (nothing is requested then).
//
// The object owns its HTTP client; one thread at a time.
class CWebExchange {
 public:
  explicit CWebExchange(CLocalClock clock = SystemLocalTime);

  // The clock of the date rules, from the next question on.
  void SetClock(CLocalClock clock) { clock_ = std::move(clock); }
  virtual ~CWebExchange();
  CWebExchange(const CWebExchange&) = delete;
  CWebExchange& operator=(const CWebExchange&) = delete;

  // Every bar of the code's history page (about three months), oldest
  // first, whatever the range; `from` becomes the day after `to`. The
  // portal's figures are adjusted for splits, so `adjust` is set.
  [[nodiscard]] int32_t GetHistory(uint32_t& from, uint32_t to, const std::string& code,
                     std::vector<CDayRecord>& bars, bool& adjust);

  // The latest figures of the code's detail page, dated by the clock: today
  // from 09:00 on, else yesterday, moved back to a trading day (indices)
  // or to a weekday (currency pairs).
  [[nodiscard]] int32_t GetQuote(const std::string& code, CDayRecord& bar);

  CHttpClient& Client() { return client_; }

 private:
  CLocalClock clock_;
  CHttpClient client_;
};

// The date number of the day after the day `number` stands for; a number
// that is no date gives number + 1, so a caller's loop still ends.
[[nodiscard]] uint32_t DayAfter(uint32_t number);

#endif  // TICKORA_WEB_WEB_EXCHANGE_H_
