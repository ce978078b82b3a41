#include "web/web_exchange.h"

#include <algorithm>

#include "db/private_brand.h"
#include "series/buffer_string.h"
#include "web/price_dates.h"
#include "web/price_pages.h"
#include "web/site_urls.h"
#include "web/web_result.h"

uint32_t DayAfter(uint32_t number) {
  CDate date;
  if (!date.FromNumber(number)) return number + 1;
  date.NextDay();
  return std::max(date.ToNumber(), number + 1);
}

CWebExchange::CWebExchange(CLocalClock clock) : clock_(std::move(clock)) {}

CWebExchange::~CWebExchange() = default;

int32_t CWebExchange::GetHistory(uint32_t& from, uint32_t to, const std::string& code,
                                 std::vector<CDayRecord>& bars, bool& adjust) {
  bars.clear();
  if (!CPrivateBrand::HasPortalPage(code)) return kWebErrorNoPortalPage;
  const CPrivateBrand::Entry entry = CPrivateBrand::Instance().Find(code);
  if (entry.historyPage.empty()) return kWebErrorNoPortalPage;
  CBufferString page;
  const int32_t result = client_.Get(SiteAddress(Site::kIndexPortal, entry.historyPage), page);
  if (result < 0) return result;
  if (ReadPortalHistoryPage(page, bars) != 0) {
    bars.clear();
    return kWebErrorPage;
  }
  OldestFirst(bars);
  from = DayAfter(to);
  adjust = true;
  return 0;
}

int32_t CWebExchange::GetQuote(const std::string& code, CDayRecord& bar) {
  bar = CDayRecord();
  if (!CPrivateBrand::HasPortalPage(code)) return kWebErrorNoPortalPage;
  const CPrivateBrand::Entry entry = CPrivateBrand::Instance().Find(code);
  if (entry.detailPage.empty()) return kWebErrorNoPortalPage;
  CBufferString page;
  const int32_t result = client_.Get(SiteAddress(Site::kIndexPortal, entry.detailPage), page);
  if (result < 0) return result;
  if (ReadLabelledQuotePage(page, true, bar) != 0) {
    bar = CDayRecord();
    return kWebErrorPage;
  }
  bar.SetDate(PortalQuoteDate(clock_(), CPrivateBrand::IsCurrencyCode(code)));
  return 0;
}
