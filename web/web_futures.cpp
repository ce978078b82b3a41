#include "web/web_futures.h"

#include "series/buffer_string.h"
#include "support/text.h"
#include "web/price_dates.h"
#include "web/price_pages.h"
#include "web/site_urls.h"
#include "web/web_exchange.h"
#include "web/web_result.h"

CWebFutures::CWebFutures(CLocalClock clock) : clock_(std::move(clock)) {}

CWebFutures::~CWebFutures() = default;

int32_t CWebFutures::GetFuturesHistory(uint32_t& from, uint32_t to,
                                       std::vector<CDayRecord>& bars) {
  bars.clear();
  CBufferString page;
  const int32_t result = client_.Get(SiteAddress(Site::kFuturesData, "/data/"), page);
  if (result < 0) return result;
  std::vector<CDayRecord> rows;
  if (ReadFuturesDataPage(page, rows) != 0) return kWebErrorPage;
  OldestFirst(rows);
  for (const CDayRecord& row : rows) {
    if (row.DateNumber() >= from && row.DateNumber() <= to) bars.push_back(row);
  }
  from = DayAfter(to);
  return 0;
}

int32_t CWebFutures::GetDowHistory(uint32_t& from, uint32_t to, std::vector<CDayRecord>& bars) {
  bars.clear();
  CDate first;
  CDate last;
  // A bound that is no date cannot be asked for.
  if (!first.FromNumber(from) || !last.FromNumber(to)) return kWebErrorPage;
  if (last.DaysBetween(first) >= kDowDaysPerRequest) {
    last = first.AddDays(kDowDaysPerRequest - 1);
    to = last.ToNumber();
  }
  CBufferString page;
  const std::string path = StringFormat("/nydow/data/?start_date=%s&end_date=%s",
                                        first.Format(8).c_str(), last.Format(8).c_str());
  const int32_t result = client_.Get(SiteAddress(Site::kDowForecast, path), page);
  if (result < 0) return result;
  if (ReadDowDataPage(page, bars) != 0) {
    bars.clear();
    return kWebErrorPage;
  }
  OldestFirst(bars);
  from = DayAfter(to);
  return 0;
}

int32_t CWebFutures::GetFuturesQuote(CDayRecord& bar) {
  bar = CDayRecord();
  CBufferString page;
  const int32_t result =
      client_.Get(SiteAddress(Site::kBrokerFutures, "/future/3OSE11/index"), page);
  if (result < 0) return result;
  if (ReadLabelledQuotePage(page, false, bar) != 0) {
    bar = CDayRecord();
    return kWebErrorPage;
  }
  bar.SetDate(FuturesQuoteDate(clock_()));
  return 0;
}

int32_t CWebFutures::GetDowQuote(CDayRecord& bar) {
  bar = CDayRecord();
  CBufferString page;
  const int32_t result = client_.Get(SiteAddress(Site::kFinance, "/quote/%5EDJI"), page);
  if (result < 0) return result;
  if (ReadDowQuotePage(page, bar) != 0) {
    bar = CDayRecord();
    return kWebErrorPage;
  }
  bar.SetDate(DowQuoteDate(clock_()));
  return 0;
}
