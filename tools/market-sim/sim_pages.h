#ifndef TICKORA_TOOLS_MARKET_SIM_SIM_PAGES_H_
#define TICKORA_TOOLS_MARKET_SIM_SIM_PAGES_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/market-sim/sim_market.h"
#include "web/site_urls.h"

// The web pages of the simulated market. The server hands every request
// for a site other than the archive and the log endpoint to
// RenderSitePage, which answers it from the market alone: the same market
// and request always give the same page.

// One request as the server received it.
struct CSimRequest {
  Site site = Site::kFinance;  // the site whose port the request came to
  std::string method;          // "GET", "POST", ...
  std::string path;            // the path, as sent (not decoded)
  std::string query;           // the query after "?", as sent; may be empty
  std::string body;            // the request body, as sent
  // The query's and a form body's fields, decoded, in arrival order for
  // equal names.
  std::multimap<std::string, std::string> params;
  // A fault asks for the page with a changed structure (its anchors moved
  // or renamed), so that a reader meets a page it cannot read.
  bool alteredStructure = false;
  // A fault asks for a table page that breaks off inside its rows (the
  // futures and Dow data pages), as a page the server stopped writing.
  bool shortRows = false;
};

// The answer to send. The body is sent as it stands (pages are UTF-8).
struct CSimResponse {
  int status = 200;
  std::string contentType = "text/html; charset=UTF-8";
  std::string body;
  // Further header lines (name, value), e.g. a Location.
  std::vector<std::pair<std::string, std::string>> headers;
};

// Fills `response` for a page request and returns true; false when the
// site has no such page (the server then answers 404). Called from any of
// the server's threads at once.
bool RenderSitePage(const CSimMarket& market, const CSimRequest& request,
                    CSimResponse& response);

#endif  // TICKORA_TOOLS_MARKET_SIM_SIM_PAGES_H_
