#include "tools/market-sim/sim_pages.h"

#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// `path` without `prefix` and without one trailing "/".
std::string Rest(const std::string& path, const std::string& prefix) {
  std::string rest = path.substr(prefix.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  return rest;
}

bool IsOneOf(const std::string& path, const char* a, const char* b) {
  return path == a || path == b;
}

bool RenderFinance(const CSimMarket& market, const CSimRequest& request, CSimResponse& response) {
  static const std::string kQuote = "/quote/";
  const std::string& path = request.path;
  if (!StartsWith(path, kQuote)) return false;
  const std::string rest = Rest(path, kQuote);
  // The Dow's symbol arrives escaped ("%5EDJI") from the readers; a
  // browser may send it as it stands.
  if (rest == "%5EDJI" || rest == "%5eDJI" || rest == "^DJI") {
    return RenderDowQuotePage(market, request, response);
  }
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) {
    return !rest.empty() && RenderQuotePage(market, request, response, rest);
  }
  const std::string code = rest.substr(0, slash);
  if (code.empty() || rest.substr(slash) != "/history") return false;
  if (Param(request, "styl") == "margin") {
    return RenderMarginHistoryPage(market, request, response, code);
  }
  return RenderPriceHistoryPage(market, request, response, code);
}

}  // namespace

bool RenderSitePage(const CSimMarket& market, const CSimRequest& request, CSimResponse& response) {
  const std::string& path = request.path;
  switch (request.site) {
    case Site::kStockList: {
      static const std::string kList = "/market_jp/stock_list/price/all/all/";
      int32_t page = 0;
      if (!StartsWith(path, kList) || !ReadCount(Rest(path, kList), page) || page < 1) {
        return false;
      }
      return RenderStockListPage(market, request, response, page);
    }
    case Site::kFinance:
      return RenderFinance(market, request, response);
    case Site::kFinanceStocks:
      return IsOneOf(path, "/stocks/chart/", "/stocks/chart") &&
             RenderSplitPage(market, request, response);
    case Site::kIndexPortal:
      return RenderPortalPage(market, request, response);
    case Site::kBrokerMobile:
      return path == "/bsite/price/searchStock.do" &&
             RenderBrokerQuotePage(market, request, response);
    case Site::kStockInfo: {
      static const std::string kStock = "/stock/";
      if (!StartsWith(path, kStock)) return false;
      const std::string code = Rest(path, kStock);
      return !code.empty() && code.find('/') == std::string::npos &&
             RenderStockInfoPage(market, request, response, code);
    }
    case Site::kFuturesData:
      return IsOneOf(path, "/data/", "/data") && RenderFuturesDataPage(market, request, response);
    case Site::kDowForecast:
      return IsOneOf(path, "/nydow/data/", "/nydow/data") &&
             RenderDowDataPage(market, request, response);
    case Site::kBrokerFutures:
      return path == "/future/3OSE11/index" && RenderBrokerFuturesPage(market, request, response);
    case Site::kArchive:
    case Site::kLog:
      return false;
  }
  return false;
}
