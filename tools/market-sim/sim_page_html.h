#ifndef TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_HTML_H_
#define TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_HTML_H_

#include <cstdint>
#include <string>

#include "series/chart.h"
#include "support/date.h"
#include "tools/market-sim/sim_pages.h"

// Pieces shared by the page renderers of the simulated market. A page is
// written as CP932 text (the market's texts and the literals of these
// sources are CP932) and turned into UTF-8 once, by SendPage.
//
// The markup is written for the system's tokenizer as much as for a
// browser: the document type is upper case ("<!DOCTYPE html>"), line
// breaks are kept
// between elements only, and scripts hold no "<" and no Japanese text, so
// that they never turn into tags or into texts a reader might take.
// The stock pages (quote, list, split and margin) and the price pages
// (history, broker, stock information, portal, futures and Dow) depart
// from this and write their markup as real sites do; their sources say
// how. Their document type is lower case (WithLowerCaseDoctype).

// ---- Numbers -----------------------------------------------------------------

// "1,234,567" or "1,234.50": `decimals` digits after the point (rounded),
// "," between groups of three digits, "-" before a negative value.
std::string FormatNumber(double value, int decimals);

// As FormatNumber, with "+" before a positive value ("+12.50", "-3", "0").
std::string FormatSigned(double value, int decimals);

// A stock price as the pages show it: whole prices without a point
// ("2,345"), others with the fewest of one or two decimals that show
// them ("2,345.5", "781.67").
std::string FormatPrice(double value);

// The change from `previous` to `value` in percent with two decimals and a
// sign ("+0.51%"); "0.00%" when `previous` is 0.
std::string FormatPercent(double value, double previous);

// ---- Dates -----------------------------------------------------------------------

std::string DateSlash(const CDate& date);     // "2024/03/05"
std::string DateDash(const CDate& date);      // "2024-03-05"
std::string DateKanji(const CDate& date);     // "2024年3月5日"
std::string DateMonthDay(const CDate& date);  // "03/05"

// ---- Text and requests ---------------------------------------------------------

// Writes "<", ">" and '"' as entities. "&" stays as it is: the readers do
// not decode entities, and a name such as "S&P500" must reach them with
// its own bytes (browsers accept a bare "&" as well).
std::string Escape(const std::string& text);

// The first value of the query or form field `name`; empty when absent.
std::string Param(const CSimRequest& request, const std::string& name);
bool HasParam(const CSimRequest& request, const std::string& name);

// Reads a text made only of 1 to 9 decimal digits.
bool ReadCount(const std::string& text, int32_t& value);

// Reads a date number ("20240305") into a real date.
bool ReadDateNumber(const std::string& text, CDate& date);

// ---- Series ---------------------------------------------------------------------

// The index of the last bar dated on or before `date`, or -1.
int32_t LastBarOnOrBefore(const CChart& chart, const CDate& date);

// ---- Answers ---------------------------------------------------------------------

// The common head of every page: document type, html start, head with
// the character set, `title`, a style sheet and `headExtra` (further
// head elements), and the body start tag with `bodyClass`.
std::string PageStart(const std::string& title, const std::string& headExtra,
                      const std::string& bodyClass);

// The end of every page: `scripts` (script elements, ASCII only), then
// the body and html end tags.
std::string PageEnd(const std::string& scripts);

// `page` with the "<!DOCTYPE html>" that PageStart puts first written in
// lower case, as many sites write it; any other page unchanged.
std::string WithLowerCaseDoctype(std::string page);

// Converts the finished CP932 page to UTF-8 and fills `response` with it.
void SendPage(CSimResponse& response, const std::string& cp932Page, int status = 200);

// A small page "not found" with status 404, headed by `siteName`.
void SendNotFound(CSimResponse& response, const std::string& siteName);

#endif  // TICKORA_TOOLS_MARKET_SIM_SIM_PAGE_HTML_H_
