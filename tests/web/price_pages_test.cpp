#include "web/price_pages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/cp932.h"
#include "tests/web/page_fixture.h"
#include "web/web_result.h"

namespace {

// The walks, each turned into a list of items (the list walks' items and
// the quote walks' bar carry no code; the quote bar carries no date).
enum Walk { kHistory, kPortal, kFutures, kDow, kPortalQuote, kFuturesQuote, kDowQuote, kBroker,
            kInfo };

int32_t RunWalk(Walk walk, const std::string& bytes, CQuoteItems& items) {
  CBufferString page;
  FillBuffer(page, bytes);
  std::vector<CDayRecord> bars(1);
  int32_t result = 0;
  switch (walk) {
    case kHistory: result = ReadStockHistoryPage(page, bars); break;
    case kPortal: result = ReadPortalHistoryPage(page, bars); break;
    case kFutures: result = ReadFuturesDataPage(page, bars); break;
    case kDow: result = ReadDowDataPage(page, bars); break;
    case kPortalQuote: result = ReadLabelledQuotePage(page, true, bars[0]); break;
    case kFuturesQuote: result = ReadLabelledQuotePage(page, false, bars[0]); break;
    case kDowQuote: result = ReadDowQuotePage(page, bars[0]); break;
    case kBroker: return ReadBrokerQuotePage(page, CDate(2024, 3, 8), items);
    case kInfo: return ReadStockInfoPage(page, CDate(2024, 3, 8), items);
  }
  items.clear();
  for (const CDayRecord& bar : bars) items.push_back({"", bar});
  return result;
}

// An expected item: date number, open, high, low, close, volume, rawClose
// and code.
struct Item {
  uint32_t date;
  double open, high, low, close, volume = 0, rawClose = 0;
  std::string code = "";
  bool operator==(const Item&) const = default;
};

// `page`: a fixture's name, or a page written here (its literals are CP932).
struct Case { std::string page; Walk walk; int32_t result; std::vector<Item> items; /* page order */ };

double F(double v) { return static_cast<float>(v); }  // as the portal stores it

TEST(PricePagesTest, EachWalkOnItsGoodAndChangedPages) {
  const int32_t kBad = kWebErrorPage;
  // A stock information page: the code is the first "(...)" of the title
  // that holds one; a title without a code fails a page only when it would
  // give a quote.
  const std::string quote =
      "<p>始値</p><p>100</p><p>高値</p><p>110</p><p>安値</p><p>90</p><p>出来高</p><p>5</p>"
      "<span data-price=\"105\"></span></body></html>";
  auto info = [&](const char* title, bool delisted = false) {
    return "<html><title>" + std::string(title) + "</title><body>" + (delisted ? "<p>上場廃止</p>" : "") + quote;
  };
  const Case cases[] = {
      // A split notice row is skipped; dates and figures over lines.
      {"history_stock_split.html", kHistory, 0,
       {{20240308, 1555, 1560, 1510, 1520, 2345600, 1520},
        {20240307, 1540.5, 1570, 1538, 1555, 1002300, 1555},
        {20240306, 3090, 3120, 3050, 3080, 512150, 1540}}},
      // A row with "-" for its open is no bar.
      {"history_stock_long.html", kHistory, 0,
       {{20240110, 98.7, 99, 97.25, 98, 0, 98},
        {20240109, 100, 101.5, 99.1, 99.9, 12000000, 99.9},
        {20240104, 101, 102, 100, 101, 800, 101}}},
      {"history_stock_no_table.html", kHistory, 0, {}},
      {"history_stock_changed.html", kHistory, kBad, {}},
      {"history_stock_row_cut.html", kHistory, kBad, {}},
      {"history_stock_bad_date.html", kHistory, kBad, {}},
      {"portal_history_index.html", kPortal, 0,
       {{20240308, F(2745.12), F(2760.40), F(2731.08), F(2741.94)},
        {20240307, F(2711.90), F(2748.55), F(2706.33), F(2743.17)},
        {20240306, 2700, F(2712.85), F(2688.01), F(2705.38)}}},
      {"portal_history_currency.html", kPortal, 0,
       {{20240308, F(147.980), F(148.123), F(146.480), F(147.061)},
        {20240307, F(149.402), F(149.590), F(147.900), F(147.980)}}},
      {"portal_history_empty.html", kPortal, 0, {}},
      {"portal_history_changed.html", kPortal, kBad, {}},
      // The page breaks off in its last row: the older rows would be lost.
      {"futures_data_rows.html", kFutures, kBad, {}},
      // A row without its night session is dropped.
      {"futures_data_short_row.html", kFutures, 0, {{20240308, 39900, 40480, 39510, 39720}}},
      {"futures_data_changed.html", kFutures, kBad, {}},
      {"dow_data_range.html", kDow, 0,
       {{20240308, 38803.92, 38985.55, 38592.21, 38722.69},
        {20240307, 38712.30, 38806.11, 38573.33, 38791.35},
        {20240306, 38626.01, 38802.76, 38538.93, 38661.05}}},
      // Cut after a row: the older rows would be lost for good.
      {"dow_data_ends_after_row.html", kDow, kBad, {}},
      {"dow_data_no_head.html", kDow, 0, {}},
      {"dow_data_changed.html", kDow, kBad, {}},
      {"dow_data_cut_mid_row.html", kDow, kBad, {}},
      {"portal_quote_index.html", kPortalQuote, 0, {{0, 39809.42, 40472.11, 39518.40, 39688.94}}},
      {"portal_quote_currency.html", kPortalQuote, 0, {{0, 147.980, 148.123, 146.480, 147.061}}},
      {"portal_quote_changed.html", kPortalQuote, kBad, {}},
      // The portal's bar needs one more text after the low; the broker's
      // futures page does not.
      {"portal_quote_cut.html", kPortalQuote, kBad, {}},
      {"futures_quote_no_trailer.html", kFuturesQuote, 0, {{0, 39900, 40480, 39510, 39720}}},
      {"futures_quote_page.html", kFuturesQuote, 0, {{0, 39900, 40480, 39510, 39720}}},
      {"futures_quote_changed.html", kFuturesQuote, kBad, {}},
      {"dow_quote_page.html", kDowQuote, 0, {{0, 38803.92, 38985.55, 38592.21, 38722.69}}},
      {"dow_quote_changed.html", kDowQuote, kBad, {}},
      {"broker_quote_traded.html", kBroker, 0,
       {{20240308, 1555, 1560, 1510, 1520, 2345600, 1520, "6999"}}},
      // No trade yet: the day's prices are the current one.
      {"broker_quote_untraded.html", kBroker, 0,
       {{20240308, 2345.5, 2345.5, 2345.5, 2345.5, 0, 2345.5, "130A"}}},
      {"broker_quote_unknown.html", kBroker, 0, {}},
      {"broker_quote_changed.html", kBroker, kBad, {}},
      {"broker_quote_cut.html", kBroker, kBad, {}},
      {"stock_info_listed.html", kInfo, 0,
       {{20240308, 1555, 1560, 1510, 1520, 2345600, 1520, "6999"}}},
      // A code with a letter is read whole.
      {"stock_info_letter_code.html", kInfo, 0,
       {{20240308, 812.5, 812.5, 812.5, 812.5, 0, 812.5, "130A"}}},
      {"stock_info_delisted.html", kInfo, 0, {}},
      {"stock_info_changed.html", kInfo, kBad, {}},
      {info("サンプル (7203) : 株価"), kInfo, 0, {{20240308, 100, 110, 90, 105, 5, 105, "7203"}}},
      {info("サンプル(HD)(7203) : 株価"), kInfo, 0, {{20240308, 100, 110, 90, 105, 5, 105, "7203"}}},
      {info("サンプル(株)(130A)"), kInfo, 0, {{20240308, 100, 110, 90, 105, 5, 105, "130A"}}},
      {info("サンプル 株価", true), kInfo, 0, {}},
      {info("サンプル 株価"), kInfo, kBad, {}},
  };
  for (const Case& c : cases) {
    const std::string bytes = c.page.ends_with(".html") ? PageFixture(c.page) : Utf8FromCp932(c.page);
    CQuoteItems items(3);
    EXPECT_EQ(RunWalk(c.walk, bytes, items), c.result) << c.page;
    if (c.result != 0) continue;
    std::vector<Item> got;
    for (const auto& [code, r] : items) {
      got.push_back({r.DateNumber(), r.open, r.high, r.low, r.close, r.volume, r.rawClose, code});
    }
    EXPECT_TRUE(got == c.items) << c.page;
  }
}

// A row without a readable date reads as no bar when it holds no prices
// (a heading in header cells); with prices it fails the page. The history
// tables read to the end of a whole document: a page that stops between or
// in rows, or before its table, is whole only with its "</html>" (a row
// cut short at its end is then dropped).
TEST(PricePagesTest, RowsWithoutADateAndPagesWithoutTheirEnd) {
  const std::string anchor = "<html><p>調整後終値*は分割を考慮した値</p><table>";
  const std::string bar = "<td>10</td><td>12</td><td>9</td><td>11</td><td>500</td><td>11</td></tr>";
  const std::string quad = "<td>10</td><td>12</td><td>9</td><td>11</td></tr>";
  const std::string night = "<td>10</td><td>12</td><td>9</td><td>11</td>" + quad;
  const std::string dashes = "<td>-</td><td>-</td><td>-</td><td>-</td><td>-</td><td>-</td><td>-</td><td>-</td>";
  const std::string end = "</table></html>", ending = "</tbody></table></body></html>";
  const std::string dow = PageFixture("dow_data_ends_after_row.html");
  const std::string maintenance = PageFixture("dow_data_no_head.html");
  const std::string futures = PageFixture("futures_data_rows.html");
  const std::string portal = PageFixture("portal_history_index.html");
  const std::string portalCut = portal.substr(0, portal.find("</tbody>"));
  const std::string history = PageFixture("history_stock_split.html");
  const struct { Walk walk; std::string page; int32_t result; size_t bars; } cases[] = {
      {kHistory, Utf8FromCp932(anchor + "<tr><th>日付</th><th>始値</th><th>高値</th></tr><tr><td>2024/3/8</td>" + bar + end), 0, 1},
      {kHistory, Utf8FromCp932(anchor + "<tr><td>2024/3/8</td>" + bar + "<tr><td>--</td>" + bar + end), kWebErrorPage, 0},
      {kPortal, Utf8FromCp932("<html><tr><th>日付</th><th>始値</th><th>高値</th><th>安値</th><th>終値</th></tr>"
                              "<tr><th>2024/3/8</th>" + quad + end), 0, 1},
      {kPortal, Utf8FromCp932("<html><tr><th>2024/3/8</th>" + quad + "<tr><th>--</th>" + quad + end), kWebErrorPage, 0},
      {kFutures, Utf8FromCp932("<html><tr><th>合計</th>" + dashes + "</tr><tr><th>2024/3/8</th>" + night + end), 0, 1},
      {kFutures, Utf8FromCp932("<html><tr><th>2024/3/8</th>" + night + "<tr><th>--</th>" + night + end), kWebErrorPage, 0},
      {kDow, dow + ending, 0, 2},
      {kDow, maintenance.substr(0, maintenance.find("</body>")), kWebErrorPage, 0},
      {kFutures, futures + ending, 0, 3},
      {kPortal, portalCut + ending, 0, 3},
      {kPortal, portalCut + "</tbody>\n", 0, 3},  // a table body sent alone
      {kPortal, portalCut, kWebErrorPage, 0},
      // Cut before its table, a page must not read as days without trading.
      {kHistory, history.substr(0, history.find(Utf8FromCp932("調整後終値*"))), kWebErrorPage, 0},
  };
  for (const auto& c : cases) {
    CQuoteItems items;
    EXPECT_EQ(RunWalk(c.walk, c.page, items), c.result) << c.page;
    if (c.result == 0) {
      EXPECT_EQ(items.size(), c.bars) << c.page;
    }
  }
}

}  // namespace
