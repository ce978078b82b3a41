#ifndef TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_RENDERERS_H_
#define TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_RENDERERS_H_

#include <string>

#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_pages.h"

// The page families of the simulated market, one source file each.
// RenderSitePage (sim_pages.cpp) picks one by site and path; each fills
// the response (possibly with a 404 page of its own site) and returns
// true, or returns false when the path is none of its pages.

// Stock-list site: "/market_jp/stock_list/price/all/all/<page>".
bool RenderStockListPage(const CSimMarket& market, const CSimRequest& request,
                         CSimResponse& response, int32_t page);

// Finance portal: "/quote/<code>", the quote page, in one of two
// layouts. The Dow's quote page is RenderDowQuotePage.
bool RenderQuotePage(const CSimMarket& market, const CSimRequest& request, CSimResponse& response,
                     const std::string& code);

// Finance portal: "/quote/<code>/history" with from, to and page: the
// daily price history with split notices.
bool RenderPriceHistoryPage(const CSimMarket& market, const CSimRequest& request,
                            CSimResponse& response, const std::string& code);

// Finance portal: "/quote/<code>/history?styl=margin&page=<n>": the weekly
// margin balances.
bool RenderMarginHistoryPage(const CSimMarket& market, const CSimRequest& request,
                             CSimResponse& response, const std::string& code);

// Finance portal's older stocks host: "/stocks/chart/?code=<code>".
bool RenderSplitPage(const CSimMarket& market, const CSimRequest& request, CSimResponse& response);

// Index portal: the detail and history pages of the built-in indices and
// currency pairs ("/contents/marketdetail.aspx", "/contents/historicalTbody.aspx").
bool RenderPortalPage(const CSimMarket& market, const CSimRequest& request, CSimResponse& response);

// Broker's mobile site: "/bsite/price/searchStock.do", the quote form and
// its answer.
bool RenderBrokerQuotePage(const CSimMarket& market, const CSimRequest& request,
                           CSimResponse& response);

// Stock information site: "/stock/<code>".
bool RenderStockInfoPage(const CSimMarket& market, const CSimRequest& request,
                         CSimResponse& response, const std::string& code);

// Futures data site: "/data/".
bool RenderFuturesDataPage(const CSimMarket& market, const CSimRequest& request,
                           CSimResponse& response);

// Broker's futures page: "/future/3OSE11/index".
bool RenderBrokerFuturesPage(const CSimMarket& market, const CSimRequest& request,
                             CSimResponse& response);

// Dow forecast site: "/nydow/data/?start_date=<y-m-d>&end_date=<y-m-d>".
bool RenderDowDataPage(const CSimMarket& market, const CSimRequest& request,
                       CSimResponse& response);

// Finance portal: "/quote/%5EDJI", the Dow average's quote page.
bool RenderDowQuotePage(const CSimMarket& market, const CSimRequest& request,
                        CSimResponse& response);

#endif  // TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_RENDERERS_H_
