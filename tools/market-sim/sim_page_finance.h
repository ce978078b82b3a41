#ifndef TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_FINANCE_H_
#define TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_FINANCE_H_

#include <string>

#include "tools/market-sim/sim_market.h"

// The frame shared by the finance portal's pages: header with navigation,
// footer, the issue heading and tabs of the per-issue pages.

// The site's name as the pages show it.
extern const char kFinanceSiteName[];

// Document start, site header and navigation, main column start.
std::string FinancePageStart(const std::string& title);

// Main column end, footer and the page's data script; `state` is an ASCII
// JSON object the page's script starts from.
std::string FinancePageEnd(const std::string& state);

// The listed issue that has per-issue pages on the portal: known, not
// built in and not delisted; nullptr otherwise.
const CSimIssue* FinanceIssue(const CSimMarket& market, const std::string& code);

// The heading above an issue's history tables: name, code, market and the
// last close with its date.
std::string FinanceIssueHeading(const CSimMarket& market, const CSimIssue& issue,
                                const CSimSeries& series);

// The tabs of an issue's pages; `current` is the one shown ("quote",
// "history" or "margin").
std::string FinanceIssueTabs(const std::string& code, const std::string& current);

#endif  // TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_FINANCE_H_
