#ifndef TICKORA_WEB_SITE_URLS_H_
#define TICKORA_WEB_SITE_URLS_H_

#include <string>
#include <vector>

// The servers this system talks to, each known by a base address of the
// form scheme://host[:port] with no path. Every reader appends its own
// path and query to the base of its site, so only these addresses change
// from one installation (or test) to another.
//
// Each site has a built-in default and an environment variable that
// replaces it; the variable is read at every call, so a change takes effect
// for the next request. A set but empty variable counts as unset. Trailing
// "/" characters of a base are removed, whichever way it was given.
//
// The defaults lie under the reserved ".example" domain: they name each
// site's role and reach nothing. A deployment, the demo and the tests set
// the variables (the README lists them).
enum class Site {
  kArchive,        // the bulk archive files (plain http)
  kLog,            // the usage log endpoint (https)
  kFinance,        // the finance portal: quote, history and margin pages
  kFinanceStocks,  // the finance portal's older stocks host (plain http)
  kStockList,      // the stock-list site's list pages
  kIndexPortal,    // index and currency pages of the built-in issues
  kBrokerMobile,   // the broker's mobile site (stock quote form)
  kStockInfo,      // the stock information site (second quote source)
  kFuturesData,    // the Nikkei 225 futures data site
  kDowForecast,    // the Dow forecast site
  kBrokerFutures,  // the broker's futures quote page
};

// One row of the table.
struct CSiteSetting {
  Site site;
  const char* variable;     // environment variable that overrides the base
  const char* defaultBase;  // scheme://host[:port]
};

// Every site, in the order of the enumeration.
const std::vector<CSiteSetting>& SiteSettings();

// The base address of the site: the variable's value when it is set and
// not empty, else the default; without trailing "/".
std::string SiteUrl(Site site);

// The base address followed directly by `path_and_query`, which starts
// with "/" and is sent as written.
std::string SiteAddress(Site site, const std::string& path_and_query);

// The variable naming a file of PEM certificates that HTTPS connections
// trust in addition to the system's certificate authorities.
inline constexpr const char kExtraCaFileVariable[] = "TICKORA_CA_FILE";

// The value of that variable, or empty when it is unset.
std::string ExtraCaFile();

#endif  // TICKORA_WEB_SITE_URLS_H_
