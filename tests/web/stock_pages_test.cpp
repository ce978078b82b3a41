#include "web/stock_pages.h"

#include <gtest/gtest.h>

#include "series/buffer_string.h"
#include "support/cp932.h"
#include "tests/web/page_fixture.h"
#include "web/web_result.h"

namespace {

// A page written in this file: its literals are CP932, pages are UTF-8.
std::string Html(const std::string& cp932) { return Utf8FromCp932(cp932); }

// One table per walk: a page (a fixture's name, or a page written here)
// and the result and output expected of it; the output is compared only
// for a page that is read.
template <typename Out>
struct Case { std::string page; std::int32_t result; Out expected; };

template <typename Out>
void ExpectCases(std::int32_t (*walk)(CBuffer&, Out&), const std::vector<Case<Out>>& cases) {
  for (const Case<Out>& c : cases) {
    const bool file = c.page.ends_with(".html");
    const std::string bytes = file ? PageFixture(c.page) : Html(c.page);
    SCOPED_TRACE(file ? c.page : bytes.substr(0, 200));
    Out out{};
    // Emptied first, or for a record cleared first.
    if constexpr (std::is_same_v<Out, CBrandRecord>) {
      out = {"9", kKindEtf, "x", "x", "x", 7, 7, 7, 7, 7, 7};
    } else {
      out.resize(2);
    }
    CBufferString page;  // in memory, as the client leaves a download
    FillBuffer(page, bytes);
    EXPECT_EQ(walk(page, out), c.result);
    if (c.result == 0) {
      EXPECT_EQ(out, c.expected);
    }
  }
}

// Small quote pages of either layout: market, industry and whatever label
// cells come before the margin ratio cell "---"; the name is 名, the code 1301.
std::string Older(const std::string& market, const std::string& industry,
                  const std::string& cells = "") {
  return "<div class='stockMainTabName'>" + market + "</div><dl class='stocksInfo clearFix'>"
         "<dt>1301</dt><dd>" + industry + "</dd></dl><table summary='株価詳細'><tr><th>名</th>"
         "</tr></table>" + cells + "<dt>信用買残の売残に対する割合</dt><dd>---</dd></html>";
}
std::string Newer(const std::string& market, const std::string& industry,
                  const std::string& cells = "") {
  return "<span class='PriceBoardMenu__label__3sg2'>" + market + "</span><h2 class="
         "'PriceBoardMain__name__6uDh'>名</h2><span class='PriceBoardMain__code__2wso'>1301</span>"
         "<a>" + industry + "</a>" + cells +
         "<dt>信用倍率</dt><span class='StyledNumber__value__3rXW'>---</span></html>";
}

TEST(StockPagesTest, QuotePagesOfBothLayoutsTheirMarketsIndustriesAndExactLabels) {
  auto record = [](std::int32_t kind, const char* market, const char* industry) {
    return CBrandRecord{"1301", kind, market, industry, "名"};
  };
  const std::string ratio = "<span class='StyledNumber__value__3rXW'>3.25</span>";
  std::vector<Case<CBrandRecord>> cases;
  for (const char* market : {"東証1部", "東証2部", "東証JQS", "東証JQG", "マザーズ", " JQS ", "名証2部"}) {
    cases.push_back({(cases.size() % 2 ? Newer : Older)(market, "水産・農林業", ""), kWebErrorRetiredMarket, {}});
  }
  cases.insert(cases.end(), {
      // Older layout: trimmed market, "(株)" before the name, a loss read
      // from its first digit, BPS after a note, a positive margin ratio.
      {"quote_older_stock.html", 0,
       {"6501", kKindStock, "東証プライム", "電気機器", "サンプル電機", 100, 2, 1234567890, 45.5,
        12.5, 1234.56}},
      // Newer layout, a REIT: units counted in investment units, "1口配当"
      // is not the dividend label, margin ratio 0.00.
      {"quote_newer_reit.html", 0,
       {"8951", kKindReit, "東証", "", "サンプルリート投資法人", 1, 1, 1500000, 18500, 18200.75,
        480123}},
      // Market 自動, a date in the industry's place, "(株)" inside the name,
      // dashes for figures, unit 0 read as 1, no margin trading.
      {"quote_newer_auto_market.html", 0,
       {"9999", kKindStock, "非上場", "業種なし", "サンプル", 1, 0, 52000000, 0, 0, 85.2}},
      {"quote_older_retired.html", kWebErrorRetiredMarket, {}},
      {"quote_changed.html", kWebErrorPage, {}},
      {"quote_no_such_issue.html", kWebErrorPage, {}},
      // Names next to the retired ones are kept.
      {Newer("JQG", "水産・農林業"), 0, record(kKindStock, "JQG", "水産・農林業")},
      {Older("名証メイン", "水産・農林業"), 0, record(kKindStock, "名証メイン", "水産・農林業")},
      {Newer("自動", "ETF"), 0, record(kKindEtf, "非上場", "")},
      {Older("東証", "REIT"), 0, record(kKindReit, "東証", "")},
      {Newer("東証", "時刻:未定"), 0, record(kKindStock, "東証", "業種なし")},
      {Older("東証", "-"), 0, record(kKindStock, "東証", "業種なし")},
      {Newer("東証", "REIT", "<dt>発行済投資口数</dt><dd>?</dd><dd>1,500,000</dd>"), 0,
       {"1301", kKindReit, "東証", "", "名", 1, 0, 1500000}},
      // The margin ratio labels must be the whole text.
      {Older("東証", "業", "<dt>信用買残の売残に対する割合(週)</dt><dd>3.25</dd>"), 0,
       record(kKindStock, "東証", "業")},
      {Newer("東証", "業", "<dt>信用倍率(週)</dt>" + ratio), 0, record(kKindStock, "東証", "業")},
  });
  ExpectCases<CBrandRecord>(ParseBrandPage, cases);
}

TEST(StockPagesTest, IssueListPages) {
  const std::string head = "<table><tr><th>業種</th></tr>";
  ExpectCases<std::vector<std::string>>(ParseBrandListPage, {
      // "<br />", "<BR>" and "<br>"; a row without a code; a full-width
      // bracket before the code; a code with a letter.
      {"list_page.html", 0, {"1301", "130A", "1305", "2914"}},
      {"list_past_end.html", 0, {}},
      {"list_changed.html", kWebErrorPage, {}},
      {head + "<tr><td><br>x (1301/P) (1302/P)</td></tr></table>", 0, {"1301"}},
      {head + "<tr><td><br>(1301 東証)(13/)</td></tr></table>", 0, {"13"}},
      {head + "<tr><td><br>(1301/東証</td></tr></table>", 0, {}},
      {head + "<tr><td>no line break</td></tr>", kWebErrorPage, {}},
      {head + "<tr><td><br>(1301/P)</td></tr>", kWebErrorPage, {}},  // the table never ends
      // A text of 50 MB in the list's only row: one pass, no code.
      {head + "<tr><td><br>" + std::string(50u << 20, '(') + "</td></tr></table>", 0, {}},
  });
}

TEST(StockPagesTest, SplitPages) {
  const std::string head = "<td>分割情報<br>";
  ExpectCases<std::vector<CDivideRecord>>(ParseDividePage, {
      {"split_two.html", 0, {{CDate(2024, 3, 28), 1.5}, {CDate(2019, 7, 1), 10}}},
      {"split_none.html", 0, {}},
      {"split_changed.html", kWebErrorPage, {}},
      {head + "[1:2<br>（2024/1/5）</td>", 0, {}},  // too short for a ratio
      {head + "[1:3]<br>（2024/01/05）<br>注記</td>", 0, {{CDate(2024, 1, 5), 3}}},
      {head + "[1:2]<br>（2024年13月45日）</td>", kWebErrorPage, {}},
      {head + "[1:2]<br>（）</td>", kWebErrorPage, {}},
      {head + "[1:2]<br>", kWebErrorPage, {}},
  });
}

TEST(StockPagesTest, MarginPagesComeOutOldestFirst) {
  const std::string head = "<table><tr><th>信用倍率</th></tr><tr><td>";
  const std::string digits40(40, '9');
  ExpectCases<std::vector<CMarginRecord>>(ParseMarginPage, {
      {"margin_page.html", 0,
       {{CDate(2024, 5, 31), 2401000, 298100}, {CDate(2024, 6, 7), 2357900, 0},
        {CDate(2024, 6, 14), 2345600, 312400}}},
      {"margin_no_table.html", 0, {}},
      {"margin_changed.html", kWebErrorPage, {}},
      {head + "2024/1/5</td><td>" + digits40 + "</td><td>" + digits40 + "</td></tr></table>", 0,
       {{CDate(2024, 1, 5), 1e40, 1e40}}},
      {head + "2024年13月45日</td><td>1</td><td>2</td></tr></table>", kWebErrorPage, {}},
      {head + "週</td><td>1</td><td>2</td></tr></table>", kWebErrorPage, {}},
      {head + "2024/1/5</td><td>1</td></tr></table>", kWebErrorPage, {}},
      {head + "2024/1/5</td><td>1</td><td>2</td></tr>", kWebErrorPage, {}},
  });
}

}  // namespace
