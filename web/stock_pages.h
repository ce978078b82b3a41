#ifndef TICKORA_WEB_STOCK_PAGES_H_
#define TICKORA_WEB_STOCK_PAGES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "db/brand_record.h"
#include "db/divide_record.h"
#include "series/buffer.h"
#include "series/margin_record.h"

// The page walks behind CWebStock: each reads one downloaded page (UTF-8
// HTML in a CBuffer) through CHtmlTokenizer and fills its output. They
// fetch nothing, so the fixture tests and the fuzz target run them on bytes
// held in memory.
//
// Each returns 0 when the page had the structure its walk looks for, or
// kWebErrorPage (-10000) when it did not (cut short, or laid out
// differently); ParseBrandPage also returns kWebErrorRetiredMarket (-10033).
// Any bytes are safe: every walk is one pass over the tokens, so it ends on
// any input and never reads outside what it was given.
//
// Texts that a walk keeps or compares with its anchors are converted to
// CP932 first; attribute values are compared as the page wrote them; tag
// names without regard to case.

// The quote page, in either of its two layouts. Clears the record's
// code, market, industry and name and zeroes its unit, lendable and four
// figures, then fills them; sets the kind from the industry cell ("ETF" 2,
// "REIT" 6, otherwise 1, the industry then emptied for funds and replaced by
// "業種なし" when it holds a date or figure), turns the market "自動" into
// "非上場", and refuses an issue on a retired market. After a failure the
// record holds whatever the walk had reached.
[[nodiscard]] std::int32_t ParseBrandPage(CBuffer& page, CBrandRecord& record);

// One page of the stock-list site's issue list: the codes of its rows,
// in page order, appended to `codes` (emptied first). A page without the
// list is 0 with no codes: the pages are exhausted.
[[nodiscard]] std::int32_t ParseBrandListPage(CBuffer& page, std::vector<std::string>& codes);

// The split section of an issue's chart page, in page order. A page without
// the section is 0 with no splits.
[[nodiscard]] std::int32_t ParseDividePage(CBuffer& page, std::vector<CDivideRecord>& splits);

// The weekly margin balances of an issue's margin history page (newest week
// first on the page), delivered oldest first. A page without the table is 0
// with no entries.
[[nodiscard]] std::int32_t ParseMarginPage(CBuffer& page, std::vector<CMarginRecord>& records);

#endif  // TICKORA_WEB_STOCK_PAGES_H_
