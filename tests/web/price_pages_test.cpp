#include "web/price_pages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "support/cp932.h"
#include "tests/web/page_fixture.h"
#include "web/web_result.h"

namespace {

// A bar as the tables below write it: date number, open, high, low,
// close, volume, rawClose.
struct Bar {
  uint32_t date;
  double open, high, low, close, volume = 0, rawClose = 0;
};

CDayRecord Record(const Bar& b) {
  CDayRecord r;
  r.SetDateNumber(b.date);
  r.open = b.open;
  r.high = b.high;
  r.low = b.low;
  r.close = b.close;
  r.volume = b.volume;
  r.rawClose = b.rawClose;
  return r;
}

void ExpectBars(const std::vector<CDayRecord>& got, const std::vector<Bar>& want,
                const std::string& page) {
  ASSERT_EQ(got.size(), want.size()) << page;
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], Record(want[i])) << page << " #" << i;
}

using ListWalk = std::function<int32_t(CBuffer&, std::vector<CDayRecord>&)>;

struct ListCase {
  const char* page;
  int32_t result;
  std::vector<Bar> bars;  // page order
};

void RunListCases(const ListWalk& walk, const std::vector<ListCase>& cases) {
  for (const ListCase& c : cases) {
    const std::string bytes = PageFixture(c.page);
    ASSERT_FALSE(bytes.empty()) << c.page;
    CBufferString buffer;
    FillBuffer(buffer, bytes);
    std::vector<CDayRecord> bars{CDayRecord()};  // emptied by the walk
    EXPECT_EQ(walk(buffer, bars), c.result) << c.page;
    if (c.result == 0) ExpectBars(bars, c.bars, c.page);
  }
}

float F(double v) { return static_cast<float>(v); }

TEST(PricePagesTest, StockHistoryPages) {
  RunListCases(ReadStockHistoryPage,
               {
                   {"history_stock_split.html",
                    0,
                    {{20240308, 1555, 1560, 1510, 1520, 2345600, 1520},
                     {20240307, 1540.5, 1570, 1538, 1555, 1002300, 1555},
                     {20240306, 3090, 3120, 3050, 3080, 512150, 1540}}},
                   {"history_stock_long.html",
                    0,
                    {{20240110, 98.7, 99, 97.25, 98, 0, 98},
                     {20240109, 100, 101.5, 99.1, 99.9, 12000000, 99.9},
                     {20240104, 101, 102, 100, 101, 800, 101}}},
                   {"history_stock_no_table.html", 0, {}},
                   {"history_stock_changed.html", kWebErrorPage, {}},
                   {"history_stock_row_cut.html", kWebErrorPage, {}},
                   {"history_stock_bad_date.html", kWebErrorPage, {}},
               });
}

TEST(PricePagesTest, PortalHistoryPagesRoundToSinglePrecision) {
  RunListCases(ReadPortalHistoryPage,
               {
                   {"portal_history_index.html",
                    0,
                    {{20240308, F(2745.12), F(2760.40), F(2731.08), F(2741.94)},
                     {20240307, F(2711.90), F(2748.55), F(2706.33), F(2743.17)},
                     {20240306, 2700, F(2712.85), F(2688.01), F(2705.38)}}},
                   {"portal_history_currency.html",
                    0,
                    {{20240308, F(147.980), F(148.123), F(146.480), F(147.061)},
                     {20240307, F(149.402), F(149.590), F(147.900), F(147.980)}}},
                   {"portal_history_empty.html", 0, {}},
                   {"portal_history_changed.html", kWebErrorPage, {}},
               });
  // 110.123 is kept as the nearest single-precision value, not as typed.
  CBufferString buffer;
  FillBuffer(buffer, "<table><tr><th>2024/01/05</th><td>110.123</td><td>1</td><td>1</td>"
                     "<td>1</td></tr></table>");
  std::vector<CDayRecord> bars;
  ASSERT_EQ(ReadPortalHistoryPage(buffer, bars), 0);
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_NE(bars[0].open, 110.123);
  EXPECT_EQ(bars[0].open, static_cast<double>(110.123f));
}

TEST(PricePagesTest, FuturesDataPagesTakeTheDaySession) {
  RunListCases(ReadFuturesDataPage,
               {
                   // The last row breaks off with the page: dropped.
                   {"futures_data_rows.html",
                    0,
                    {{20240308, 39900, 40480, 39510, 39720},
                     {20240307, 39650, 39990, 39560, 39800},
                     {20240306, 40010, 40050, 39400, 39630}}},
                   // A row without its night session is dropped.
                   {"futures_data_short_row.html", 0, {{20240308, 39900, 40480, 39510, 39720}}},
                   {"futures_data_changed.html", kWebErrorPage, {}},
               });
}

TEST(PricePagesTest, DowDataPages) {
  const std::vector<Bar> two = {{20240308, 38803.92, 38985.55, 38592.21, 38722.69},
                                {20240307, 38712.30, 38806.11, 38573.33, 38791.35}};
  std::vector<Bar> three = two;
  three.push_back({20240306, 38626.01, 38802.76, 38538.93, 38661.05});
  RunListCases(ReadDowDataPage, {
                                    {"dow_data_range.html", 0, three},
                                    {"dow_data_ends_after_row.html", 0, two},
                                    {"dow_data_no_head.html", 0, {}},
                                    {"dow_data_changed.html", kWebErrorPage, {}},
                                    {"dow_data_cut_mid_row.html", kWebErrorPage, {}},
                                });
}

struct QuoteCase {
  const char* page;
  int32_t result;
  Bar bar;  // date unused: the walks leave it empty
};

void RunQuoteCases(const std::function<int32_t(CBuffer&, CDayRecord&)>& walk,
                   const std::vector<QuoteCase>& cases) {
  for (const QuoteCase& c : cases) {
    CBufferString buffer;
    FillBuffer(buffer, PageFixture(c.page));
    CDayRecord bar;
    bar.volume = 9;  // reset by the walk
    EXPECT_EQ(walk(buffer, bar), c.result) << c.page;
    if (c.result == 0) EXPECT_EQ(bar, Record(c.bar)) << c.page;
  }
}

TEST(PricePagesTest, LabelledQuotePages) {
  auto portal = [](CBuffer& b, CDayRecord& r) { return ReadLabelledQuotePage(b, true, r); };
  auto futures = [](CBuffer& b, CDayRecord& r) { return ReadLabelledQuotePage(b, false, r); };
  RunQuoteCases(portal, {
                            {"portal_quote_index.html", 0, {0, 39809.42, 40472.11, 39518.40, 39688.94}},
                            {"portal_quote_currency.html", 0, {0, 147.980, 148.123, 146.480, 147.061}},
                            {"portal_quote_changed.html", kWebErrorPage, {}},
                            // The portal's bar needs a text after the low.
                            {"portal_quote_cut.html", kWebErrorPage, {}},
                        });
  RunQuoteCases(futures, {
                             {"futures_quote_page.html", 0, {0, 39900, 40480, 39510, 39720}},
                             {"futures_quote_no_trailer.html", 0, {0, 39900, 40480, 39510, 39720}},
                             {"futures_quote_changed.html", kWebErrorPage, {}},
                         });
}

TEST(PricePagesTest, DowQuotePages) {
  RunQuoteCases(ReadDowQuotePage, {
                                      {"dow_quote_page.html", 0, {0, 38803.92, 38985.55, 38592.21, 38722.69}},
                                      {"dow_quote_changed.html", kWebErrorPage, {}},
                                  });
}

struct StockQuoteCase {
  const char* page;
  int32_t result;
  std::vector<std::string> codes;
  std::vector<Bar> bars;
};

void RunStockQuoteCases(
    const std::function<int32_t(CBuffer&, const CDate&, CQuoteItems&)>& walk,
    const std::vector<StockQuoteCase>& cases) {
  const CDate date(2024, 3, 8);
  for (const StockQuoteCase& c : cases) {
    CBufferString buffer;
    FillBuffer(buffer, PageFixture(c.page));
    CQuoteItems items(2);
    EXPECT_EQ(walk(buffer, date, items), c.result) << c.page;
    if (c.result != 0) continue;
    ASSERT_EQ(items.size(), c.codes.size()) << c.page;
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].code, c.codes[i]) << c.page;
      EXPECT_EQ(items[i].record, Record(c.bars[i])) << c.page;
    }
  }
}

TEST(PricePagesTest, BrokerQuotePages) {
  RunStockQuoteCases(
      ReadBrokerQuotePage,
      {
          {"broker_quote_traded.html", 0, {"6999"}, {{20240308, 1555, 1560, 1510, 1520, 2345600, 1520}}},
          // No trade yet: the day's prices are the current one.
          {"broker_quote_untraded.html", 0, {"130A"}, {{20240308, 2345.5, 2345.5, 2345.5, 2345.5, 0, 2345.5}}},
          {"broker_quote_unknown.html", 0, {}, {}},
          {"broker_quote_changed.html", kWebErrorPage, {}, {}},
          {"broker_quote_cut.html", kWebErrorPage, {}, {}},
      });
}

TEST(PricePagesTest, StockInformationPages) {
  RunStockQuoteCases(
      ReadStockInfoPage,
      {
          {"stock_info_listed.html", 0, {"6999"}, {{20240308, 1555, 1560, 1510, 1520, 2345600, 1520}}},
          // A code with a letter is read whole.
          {"stock_info_letter_code.html", 0, {"130A"}, {{20240308, 812.5, 812.5, 812.5, 812.5, 0, 812.5}}},
          {"stock_info_delisted.html", 0, {}, {}},
          {"stock_info_changed.html", kWebErrorPage, {}, {}},
      });
}

// Pages cut at every byte, and other broken bytes, give an answer and no
// more bars than rows were sent.
TEST(PricePagesTest, CutAndBrokenPagesNeverOverrun) {
  const std::string page = PageFixture("history_stock_split.html");
  for (size_t cut = 0; cut <= page.size(); cut += 7) {
    CBufferString buffer;
    FillBuffer(buffer, page.substr(0, cut));
    std::vector<CDayRecord> rows;
    const int32_t result = ReadStockHistoryPage(buffer, rows);
    EXPECT_TRUE(result == 0 || result == kWebErrorPage);
    EXPECT_LE(rows.size(), 3u);
  }
  const std::string odd[] = {std::string("\xff<tr>", 5), std::string("<th>\0\0", 6),
                             "<tr><th>2024/1/5</th><td>" + std::string(40, '9') + "</td>",
                             "<<<<>>>>\"'='"};
  for (const std::string& bytes : odd) {
    CBufferString buffer;
    FillBuffer(buffer, bytes);
    std::vector<CDayRecord> bars;
    ReadFuturesDataPage(buffer, bars);
    ReadPortalHistoryPage(buffer, bars);
    EXPECT_LE(bars.size(), 1u);
  }
}

// Ten thousand rows read whole; a 40-digit figure is clamped, not wrapped.
TEST(PricePagesTest, LongTablesAndHugeFigures) {
  // Pages are UTF-8; this source's literals are CP932.
  std::string page = "<table><tr><th>" + Utf8FromCp932("調整後終値*") + "</th></tr>\n";
  std::string futures;
  for (int i = 0; i < 10000; ++i) {
    const std::string date = "<th>2024/1/" + std::to_string(i % 28 + 1) + "</th>";
    page += "<tr>" + date + "<td>" + std::string(40, '9') + "</td><td>2</td><td>3</td><td>4</td>"
            "<td>5</td><td>6</td></tr>\n";
    futures += "<tr>" + date + "<td>1</td><td>2</td><td>3</td><td>4</td><td>5</td><td>6</td>"
               "<td>7</td><td>8</td></tr>\n";
  }
  page += "</table>";
  CBufferString buffer;
  FillBuffer(buffer, page);
  std::vector<CDayRecord> rows;
  ASSERT_EQ(ReadStockHistoryPage(buffer, rows), 0);
  ASSERT_EQ(rows.size(), 10000u);
  EXPECT_GT(rows.back().open, 9e39);
  EXPECT_TRUE(std::isfinite(rows.back().open));
  EXPECT_EQ(rows.back().rawClose, 6);
  FillBuffer(buffer, futures);
  ASSERT_EQ(ReadFuturesDataPage(buffer, rows), 0);
  EXPECT_EQ(rows.size(), 10000u);
}

}  // namespace
