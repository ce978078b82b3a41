#ifndef TICKORA_WEB_WEB_STOCK_H_
#define TICKORA_WEB_WEB_STOCK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "db/brand_record.h"
#include "db/divide_record.h"
#include "series/margin_record.h"
#include "web/http_client.h"

// CWebStock reads one issue's data from public finance pages, for when the
// archive cannot answer: the issue record from its quote page, the issue
// codes of the stock-list site's list pages, the splits from the older
// stocks host's chart page and the weekly margin balances from the margin
// history page. Each operation downloads one page into memory with its own
// CHttpClient (servers from the site address table, site_urls.h), walks it
// (stock_pages.h) and releases it before returning.
//
// Results: 0 when the page was read; the HTTP client's code, unchanged,
// when the download failed (nothing is parsed then); kWebErrorPage (-10000)
// for a page without the expected structure; kWebErrorRetiredMarket
// (-10033) from GetBrand for an issue on a market that no longer exists.
// GetWebMessage (web_result.h) gives the text of any of them. Outputs are
// emptied first; after a failure they are partly filled at most.
//
// Nothing is kept between calls but the client. One thread at a time.
class CWebStock {
 public:
  CWebStock() = default;
  virtual ~CWebStock() = default;
  CWebStock(const CWebStock&) = delete;
  CWebStock& operator=(const CWebStock&) = delete;

  // The record of the issue `code` from "/quote/<code>" of the finance
  // portal.
  [[nodiscard]] std::int32_t GetBrand(const std::string& code, CBrandRecord& record);

  // The codes of list page `page` (from 1) of the stock-list site, in page
  // order. 0 with no codes: past the last page.
  [[nodiscard]] std::int32_t GetBrandList(std::int32_t page, std::vector<std::string>& codes);

  // Every split of the issue listed on its chart page, in page order.
  [[nodiscard]] std::int32_t GetDivide(const std::string& code, std::vector<CDivideRecord>& splits);

  // The margin balances of the first page of the margin history,
  // oldest first. `from` and `to` are date numbers: when `to` lies twenty
  // whole weeks or more after `from` it is taken as `from` + 139 days, and
  // on success `from` becomes the day after that `to`. Every row of the
  // page is delivered, whatever its date.
  [[nodiscard]] std::int32_t GetMargin(std::uint32_t& from, std::uint32_t to, const std::string& code,
                         std::vector<CMarginRecord>& records);

  // The client, for its attempt count and pauses.
  CHttpClient& Client() { return client_; }

 private:
  CHttpClient client_;
};

#endif  // TICKORA_WEB_WEB_STOCK_H_
