#include "web/stock_pages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "series/buffer_string.h"
#include "support/cp932.h"
#include "web/web_result.h"

namespace {

// ---- Helpers --------------------------------------------------------------

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(TICKORA_TEST_DATA_DIR) + "/pages/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return {std::istreambuf_iterator<char>(in), {}};
}

// A page held in memory, as the client leaves a download.
struct Page : CBufferString {
  explicit Page(const std::string& bytes) {
    Handle handle = OpenWrite();
    Write(handle, bytes.data(), static_cast<int32_t>(bytes.size()));
    Close(handle);
  }
};

// A page written in this file: its literals are CP932, pages are UTF-8.
std::string Html(const std::string& cp932) { return Utf8FromCp932(cp932); }

std::int32_t Brand(const std::string& bytes, CBrandRecord& record) {
  Page page(bytes);
  return ParseBrandPage(page, record);
}
std::int32_t List(const std::string& bytes, std::vector<std::string>& codes) {
  Page page(bytes);
  return ParseBrandListPage(page, codes);
}
std::int32_t Divide(const std::string& bytes, std::vector<CDivideRecord>& splits) {
  Page page(bytes);
  return ParseDividePage(page, splits);
}
std::int32_t Margin(const std::string& bytes, std::vector<CMarginRecord>& records) {
  Page page(bytes);
  return ParseMarginPage(page, records);
}

CBrandRecord Record(const char* code, std::int32_t kind, const char* market, const char* industry,
                    const char* name, std::uint32_t unit, std::uint32_t lendable, double shares,
                    double dividend, double eps, double bps) {
  CBrandRecord r;
  r.code = code;
  r.kind = kind;
  r.market = market;
  r.industry = industry;
  r.name = name;
  r.unit = unit;
  r.lendable = lendable;
  r.sharesOutstanding = shares;
  r.dividend = dividend;
  r.eps = eps;
  r.bps = bps;
  return r;
}

CMarginRecord Week(std::uint32_t y, std::uint32_t m, std::uint32_t d, double buy, double sell) {
  CMarginRecord entry;
  entry.date = CDate(y, m, d);
  entry.buy = buy;
  entry.sell = sell;
  return entry;
}

// ---- Fixture pages, one table per reader ------------------------------------

TEST(StockPagesTest, QuotePagesOfBothLayouts) {
  struct Case {
    const char* file;
    std::int32_t result;
    CBrandRecord expected;  // compared when the page was read
  } const cases[] = {
      // Older layout: trimmed market, "(株)" before the name, a loss read
      // from its first digit, BPS after a note, a positive margin ratio.
      {"quote_older_stock.html", 0,
       Record("6501", kKindStock, "東証プライム", "電気機器", "サンプル電機", 100, 2, 1234567890,
              45.5, 12.5, 1234.56)},
      // Newer layout, a REIT: fund label, units counted in investment
      // units, "1口配当" is not the dividend label, margin ratio 0.00.
      {"quote_newer_reit.html", 0,
       Record("8951", kKindReit, "東証", "", "サンプルリート投資法人", 1, 1, 1500000, 18500,
              18200.75, 480123)},
      // Newer layout: market 自動, a date where the industry belongs, "(株)"
      // inside the name, dashes for missing figures, unit 0 read as 1, no
      // margin trading.
      {"quote_newer_auto_market.html", 0,
       Record("9999", kKindStock, "非上場", "業種なし", "サンプル", 1, 0, 52000000, 0, 0, 85.2)},
      {"quote_older_retired.html", kWebErrorRetiredMarket, {}},
      {"quote_changed.html", kWebErrorPage, {}},
      {"quote_no_such_issue.html", kWebErrorPage, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CBrandRecord record = Record("x", 9, "m", "i", "n", 7, 7, 7, 7, 7, 7);
    EXPECT_EQ(Brand(Fixture(c.file), record), c.result);
    if (c.result == 0) {
      EXPECT_EQ(record, c.expected);
    }
  }
}

TEST(StockPagesTest, IssueListPages) {
  struct Case {
    const char* file;
    std::int32_t result;
    std::vector<std::string> codes;
  } const cases[] = {
      // Rows with "<br />", "<BR>" and "<br>"; a row without a code; a
      // full-width bracket before the code; a code with a letter.
      {"list_page.html", 0, {"1301", "130A", "1305", "2914"}},
      {"list_past_end.html", 0, {}},
      {"list_changed.html", kWebErrorPage, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> codes = {"left over"};
    EXPECT_EQ(List(Fixture(c.file), codes), c.result);
    if (c.result == 0) {
      EXPECT_EQ(codes, c.codes);
    }
  }
}

TEST(StockPagesTest, SplitPages) {
  struct Case {
    const char* file;
    std::int32_t result;
    std::vector<CDivideRecord> splits;
  } const cases[] = {
      {"split_two.html", 0, {{CDate(2024, 3, 28), 1.5}, {CDate(2019, 7, 1), 10}}},
      {"split_none.html", 0, {}},
      {"split_changed.html", kWebErrorPage, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<CDivideRecord> splits(3);
    EXPECT_EQ(Divide(Fixture(c.file), splits), c.result);
    if (c.result == 0) {
      EXPECT_EQ(splits, c.splits);
    }
  }
}

TEST(StockPagesTest, MarginPagesComeOutOldestFirst) {
  struct Case {
    const char* file;
    std::int32_t result;
    std::vector<CMarginRecord> records;
  } const cases[] = {
      {"margin_page.html",
       0,
       {Week(2024, 5, 31, 2401000, 298100), Week(2024, 6, 7, 2357900, 0),
        Week(2024, 6, 14, 2345600, 312400)}},
      {"margin_no_table.html", 0, {}},
      {"margin_changed.html", kWebErrorPage, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<CMarginRecord> records(2);
    EXPECT_EQ(Margin(Fixture(c.file), records), c.result);
    if (c.result == 0) {
      EXPECT_EQ(records, c.records);
    }
  }
}

// Small pages for the rules that the fixtures do not reach.
TEST(StockPagesTest, EdgeRowsAndCells) {
  const std::string listHead = "<table><tr><th>業種</th></tr>";
  struct ListCase {
    std::string page;
    std::int32_t result;
    std::vector<std::string> codes;
  } const lists[] = {
      {listHead + "<tr><td><br>x (1301/P) (1302/P)</td></tr></table>", 0, {"1301"}},
      {listHead + "<tr><td><br>(1301 東証)(13/)</td></tr></table>", 0, {"13"}},
      {listHead + "<tr><td><br>(1301/東証</td></tr></table>", 0, {}},
      {listHead + "<tr><td>no line break</td></tr>", kWebErrorPage, {}},
      {listHead + "<tr><td><br>(1301/P)</td></tr>", kWebErrorPage, {}},  // table never ends
  };
  for (const ListCase& c : lists) {
    std::vector<std::string> codes;
    EXPECT_EQ(List(Html(c.page), codes), c.result) << c.page;
    if (c.result == 0) EXPECT_EQ(codes, c.codes) << c.page;
  }

  const std::string splitHead = "<td>分割情報<br>";
  struct SplitCase {
    std::string page;
    std::int32_t result;
    std::size_t count;
  } const splits[] = {
      {splitHead + "[1:2<br>（2024/1/5）</td>", 0, 0},  // too short for a ratio
      {splitHead + "[1:2]<br>（2024年13月45日）</td>", kWebErrorPage, 0},
      {splitHead + "[1:2]<br>（）</td>", kWebErrorPage, 0},
      {splitHead + "[1:2]<br>", kWebErrorPage, 0},
      {splitHead + "[1:3]<br>（2024/01/05）<br>注記</td>", 0, 1},
  };
  for (const SplitCase& c : splits) {
    std::vector<CDivideRecord> out;
    EXPECT_EQ(Divide(Html(c.page), out), c.result) << c.page;
    EXPECT_EQ(out.size(), c.count) << c.page;
  }

  const std::string marginHead = "<table><tr><th>信用倍率</th></tr>";
  struct MarginCase {
    std::string page;
    std::int32_t result;
  } const margins[] = {
      {marginHead + "<tr><td>2024年13月45日</td><td>1</td><td>2</td></tr></table>", kWebErrorPage},
      {marginHead + "<tr><td>週</td><td>1</td><td>2</td></tr></table>", kWebErrorPage},
      {marginHead + "<tr><td>2024/1/5</td><td>1</td></tr></table>", kWebErrorPage},
      {marginHead + "<tr><td>2024/1/5</td><td>1</td><td>2</td></tr>", kWebErrorPage},
      {marginHead + "</table>", 0},
  };
  for (const MarginCase& c : margins) {
    std::vector<CMarginRecord> out;
    EXPECT_EQ(Margin(Html(c.page), out), c.result) << c.page;
  }
}

// ---- Bad input ---------------------------------------------------------------

// Every prefix of every good page: a cut page is refused, or it is read
// whole (the cut fell outside what the walk reads), never half read.
TEST(StockPagesTest, CutPagesAreRefusedOrReadWhole) {
  for (const char* file : {"quote_older_stock.html", "quote_newer_reit.html"}) {
    const std::string bytes = Fixture(file);
    CBrandRecord whole;
    ASSERT_EQ(Brand(bytes, whole), 0);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      CBrandRecord record;
      const std::int32_t result = Brand(bytes.substr(0, n), record);
      ASSERT_TRUE(result == kWebErrorPage || (result == 0 && record == whole)) << file << " " << n;
    }
  }
  const std::string list = Fixture("list_page.html");
  const std::string split = Fixture("split_two.html");
  const std::string margin = Fixture("margin_page.html");
  std::vector<std::string> wholeList;
  std::vector<CDivideRecord> wholeSplits;
  std::vector<CMarginRecord> wholeMargin;
  ASSERT_EQ(List(list, wholeList), 0);
  ASSERT_EQ(Divide(split, wholeSplits), 0);
  ASSERT_EQ(Margin(margin, wholeMargin), 0);
  for (std::size_t n = 0; n < list.size(); ++n) {
    std::vector<std::string> codes;
    const std::int32_t result = List(list.substr(0, n), codes);
    ASSERT_TRUE(result == kWebErrorPage || (result == 0 && (codes.empty() || codes == wholeList)))
        << n;
  }
  for (std::size_t n = 0; n < split.size(); ++n) {
    std::vector<CDivideRecord> out;
    const std::int32_t result = Divide(split.substr(0, n), out);
    ASSERT_TRUE(result == kWebErrorPage || (result == 0 && (out.empty() || out == wholeSplits)))
        << n;
  }
  for (std::size_t n = 0; n < margin.size(); ++n) {
    std::vector<CMarginRecord> out;
    const std::int32_t result = Margin(margin.substr(0, n), out);
    ASSERT_TRUE(result == kWebErrorPage || (result == 0 && (out.empty() || out == wholeMargin)))
        << n;
  }
}

TEST(StockPagesTest, AnyBytesGiveAResult) {
  std::mt19937 random(20240614);
  const std::string pieces[] = {"<",   ">",    "</",   "<br>", "<tr>", "</table>", "</td>",
                                "\"",  "'",    "=",    "<!--", "-->",  "分割情報", "信用倍率",
                                "業種", "[1:2]", "（2024/1/5）", "stocksInfo clearFix",
                                "信用買残の売残に対する割合", "\xff", "\x80", "\xe3\x81"};
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    const int length = static_cast<int>(random() % 400);
    for (int i = 0; i < length; ++i) {
      if (random() % 3 == 0) {
        bytes += Html(pieces[random() % std::size(pieces)]);
      } else {
        bytes += static_cast<char>(random() % 256);
      }
    }
    CBrandRecord record;
    std::vector<std::string> codes;
    std::vector<CDivideRecord> splits;
    std::vector<CMarginRecord> records;
    for (const std::int32_t result : {Brand(bytes, record), List(bytes, codes),
                                      Divide(bytes, splits), Margin(bytes, records)}) {
      EXPECT_TRUE(result == 0 || result == kWebErrorPage || result == kWebErrorRetiredMarket);
    }
  }
}

TEST(StockPagesTest, LargePagesAndFigures) {
  // A list and a margin history of 10,000 rows each.
  std::string list = "<table><tr><th>業種</th></tr>\n";
  std::string margin = "<table><tr><th>信用倍率</th></tr>\n";
  std::vector<std::string> expectedCodes;
  for (int i = 0; i < 10000; ++i) {
    const std::string code = std::to_string(10000 + i);
    list += "<tr><td><a>名</a><br />(" + code + "/東証Ｐ)</td></tr>\n";
    expectedCodes.push_back(code);
    margin += "<tr><td>2024/1/5</td><td>" + std::to_string(i) + "</td><td>1,000</td></tr>\n";
  }
  list += "</table>";
  margin += "</table>";
  std::vector<std::string> codes;
  EXPECT_EQ(List(Html(list), codes), 0);
  EXPECT_EQ(codes, expectedCodes);
  std::vector<CMarginRecord> records;
  EXPECT_EQ(Margin(Html(margin), records), 0);
  ASSERT_EQ(records.size(), 10000u);
  EXPECT_EQ(records.front().sell, 9999);  // the last row of the page comes first
  EXPECT_EQ(records.back().sell, 0);

  // Figures of 40 digits.
  const std::string digits40(40, '9');
  EXPECT_EQ(Margin(Html("<table><tr><th>信用倍率</th></tr><tr><td>2024/1/5</td><td>" + digits40 +
                        "</td><td>" + digits40 + "</td></tr></table>"),
                   records),
            0);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_DOUBLE_EQ(records[0].buy, 1e40);

  // A text of 50 MB in the list's only row: one long pass, no code.
  std::string huge = Html("<table><tr><th>業種</th></tr><tr><td><br>");
  huge.append(50u << 20, '(');
  huge += "</td></tr></table>";
  EXPECT_EQ(List(huge, codes), 0);
  EXPECT_TRUE(codes.empty());
}

}  // namespace
