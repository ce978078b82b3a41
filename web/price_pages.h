#ifndef TICKORA_WEB_PRICE_PAGES_H_
#define TICKORA_WEB_PRICE_PAGES_H_

#include <cstdint>
#include <vector>

#include "series/buffer.h"
#include "series/day_record.h"
#include "series/quote_item.h"
#include "support/date.h"

// The page walks of the price readers: each reads one downloaded page (any
// CBuffer, so tests, fuzzing and benchmarks can hand it bytes from memory)
// and answers 0 when the page had the expected structure, or kWebErrorPage
// (-10000) when it did not. The outputs are emptied first; after a failure
// they may hold what was read before the walk gave up and must not be used.
//
// Every walk is a single pass over the page's tokens (CPageTokens): any
// bytes give an answer, in time proportional to the page's size.
//
// A date cell that cannot be read as a date fails the page: a row whose
// date is unknown cannot be placed, and taking it would write bars under a
// wrong day. A row without a date that holds no prices either is a heading
// (column names in header cells) and is skipped. A row that ends before
// its last figure fails the page too, rather than taking the missing
// figures from the next row. Both tighten the walks beyond what a
// well-formed page needs, for the pages whose layout has changed.

// A listed stock's daily history: the rows of the table headed by
// "調整後終値*", in page order (newest first). Each row is date, open,
// high, low, close, volume and the adjusted close (kept as rawClose). A
// row whose open is not a figure (a split notice across the row) is left
// out. A page without that table is read as a page without rows.
[[nodiscard]] int32_t ReadStockHistoryPage(CBuffer& page, std::vector<CDayRecord>& rows);

// The broker's mobile quote answer. Success with no item when the page
// says the broker does not list the code; else one item under the code of
// the page's "ipm_product_code" field, dated `date`.
[[nodiscard]] int32_t ReadBrokerQuotePage(CBuffer& page, const CDate& date, CQuoteItems& items);

// The stock information site's page of an issue: one item under the code
// in the page title, dated `date`; no item for a delisted issue. A title
// without a code fails the page when a quote follows it.
[[nodiscard]] int32_t ReadStockInfoPage(CBuffer& page, const CDate& date, CQuoteItems& items);

// The portal's history of an index or currency pair: one bar a table row
// headed by a TH date cell, in page order (newest first), volume 0, each
// figure rounded to single precision.
[[nodiscard]] int32_t ReadPortalHistoryPage(CBuffer& page, std::vector<CDayRecord>& bars);

// A quote page listing 現在値, 始値, 高値 and 安値, each label a text of its
// own followed by its figure. The portal's page must hold one more text
// after the low (`textAfterLow`); the broker's futures page need not.
// The bar gets close, open, high and low, nothing else.
[[nodiscard]] int32_t ReadLabelledQuotePage(CBuffer& page, bool textAfterLow, CDayRecord& bar);

// The futures data page: rows headed by a "th" cell (lower case) holding
// the date, then the day session's open, high, low and close and the
// night session's four; the day session is taken. A row cut short is
// dropped. Page order (newest first).
[[nodiscard]] int32_t ReadFuturesDataPage(CBuffer& page, std::vector<CDayRecord>& bars);

// The Dow forecast site's daily table: after the table head, rows of a
// date and open, high, low, close. Page order (newest first). A page that
// stops before the head or after a row without the table's end is whole
// (no bars, or the rows so far) only when it ends with "</html>".
[[nodiscard]] int32_t ReadDowDataPage(CBuffer& page, std::vector<CDayRecord>& bars);

// The portal's Dow quote page: the figures that follow the first four
// "用語" texts are close, open, high and low.
[[nodiscard]] int32_t ReadDowQuotePage(CBuffer& page, CDayRecord& bar);

// Puts bars read in page order into ascending date order. The pages list
// the newest day first, so that order is reversed; a page that lists the
// oldest first (or mixes) still comes out oldest first, since the callers
// promise ascending dates whatever the site chose. Bars of one day keep
// their reversed page order.
void OldestFirst(std::vector<CDayRecord>& bars);

#endif  // TICKORA_WEB_PRICE_PAGES_H_
