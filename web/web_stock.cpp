#include "web/web_stock.h"

#include <cstdint>

#include "series/buffer_string.h"
#include "support/date.h"
#include "support/text.h"
#include "web/site_urls.h"
#include "web/url_encode.h"
#include "web/stock_pages.h"

std::int32_t CWebStock::GetBrand(const std::string& code, CBrandRecord& record) {
  CBufferString page;
  const std::int32_t result = client_.Get(SiteAddress(Site::kFinance, "/quote/" + UrlEncode(code)), page);
  if (result < 0) return result;
  return ParseBrandPage(page, record);
}

std::int32_t CWebStock::GetBrandList(std::int32_t page, std::vector<std::string>& codes) {
  codes.clear();
  CBufferString body;
  const std::int32_t result = client_.Get(
      SiteAddress(Site::kStockList, StringFormat("/market_jp/stock_list/price/all/all/%d", page)),
      body);
  if (result < 0) return result;
  return ParseBrandListPage(body, codes);
}

std::int32_t CWebStock::GetDivide(const std::string& code, std::vector<CDivideRecord>& splits) {
  splits.clear();
  CBufferString page;
  const std::int32_t result =
      client_.Get(SiteAddress(Site::kFinanceStocks, "/stocks/chart/?code=" + UrlEncode(code)), page);
  if (result < 0) return result;
  return ParseDividePage(page, splits);
}

std::int32_t CWebStock::GetMargin(std::uint32_t& from, std::uint32_t to, const std::string& code,
                                  std::vector<CMarginRecord>& records) {
  records.clear();
  CDate first, last;
  // A `from` that is no date leaves year 0, which the cut below skips.
  (void)first.FromNumber(from);
  const bool lastRead = last.FromNumber(to);
  // One page holds twenty weeks: a longer span is cut to what it can hold.
  if (lastRead && first.year != 0 && last.DaysBetween(first) / 7 >= 20) {
    last = first.AddDays(139);
  }

  CBufferString page;
  const std::int32_t result = client_.Get(
      SiteAddress(Site::kFinance, "/quote/" + UrlEncode(code) + "/history?styl=margin&page=1"), page);
  if (result < 0) return result;
  const std::int32_t parsed = ParseMarginPage(page, records);
  if (parsed < 0) return parsed;
  // A `to` that is no date still moves `from` past it, so that a caller
  // looping while from <= to comes to an end.
  from = lastRead ? last.AddDays(1).ToNumber() : (to == UINT32_MAX ? to : to + 1);
  return 0;
}
