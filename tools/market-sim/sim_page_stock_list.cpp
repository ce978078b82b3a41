// The stock-list site: every listed issue in code order, fifty a page.
// Each row names the issue and, after a line break, "(code/market)"; the
// industry column's heading starts the list. A page after the last one is
// an ordinary page that says there is nothing to show, without the list.
//
// The markup is the site's own: a lower-case document type, rows that
// alternate "<br />" and "<BR>" before the code, the name and the code on
// lines of their own, an upper-case header row, and a script that compares
// with "<".

#include <vector>

#include "support/text.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

constexpr int32_t kRowsPerPage = 50;

// The short market names of the list ("東証Ｐ"); other markets as they are.
std::string MarketShortName(const std::string& market) {
  if (market == "東証プライム") return "東証Ｐ";
  if (market == "東証スタンダード") return "東証Ｓ";
  if (market == "東証グロース") return "東証Ｇ";
  if (market == "名証メイン") return "名証Ｍ";
  return market;
}

std::string PageUrl(int32_t page) {
  return StringFormat("/market_jp/stock_list/price/all/all/%d", page);
}

std::string Pager(int32_t page, int32_t lastPage) {
  std::string pager = "<div class=\"pager\">\n<ul>\n";
  if (page > 1) {
    pager += "<li class=\"prev\"><a href=\"" + PageUrl(page - 1) + "\">前へ</a></li>\n";
  }
  const int32_t first = page - 3 < 1 ? 1 : page - 3;
  const int32_t last = page + 3 > lastPage ? lastPage : page + 3;
  for (int32_t p = first; p <= last; ++p) {
    if (p == page) {
      pager += StringFormat("<li class=\"current\"><span>%d</span></li>\n", p);
    } else {
      pager += "<li><a href=\"" + PageUrl(p) + "\">" + std::to_string(p) + "</a></li>\n";
    }
  }
  if (page < lastPage) {
    pager += "<li class=\"next\"><a href=\"" + PageUrl(page + 1) + "\">次へ</a></li>\n";
  }
  return pager + "</ul>\n</div>\n";
}

// The price cells of one issue: the last close with its date, the change
// from the bar before and the volume; dashes for an issue without bars.
struct PriceCells {
  std::string price = "---";
  std::string date;
  std::string change = "---";
  std::string changeClass = "flat";
  std::string volume = "---";
};

PriceCells PricesOf(const CSimMarket& market, const CSimIssue& issue) {
  PriceCells cells;
  const auto series = market.Series(issue.record.code);
  if (!series) return cells;
  const int32_t last = LastBarOnOrBefore(series->raw, market.LastDate());
  if (last < 0) return cells;
  const CDayRecord& bar = series->raw[last];
  cells.price = FormatPrice(bar.close);
  cells.date = DateMonthDay(bar.Date());
  cells.volume = FormatNumber(bar.volume, 0);
  if (last > 0) {
    // The bar before is in the share count of its own day: restate it
    // with a split effective on this bar's day.
    double previous = series->raw[last - 1].close;
    for (const CDivideRecord& split : series->splits) {
      if (split.date == bar.Date() && split.ratio > 0) previous /= split.ratio;
    }
    const double change = bar.close - previous;
    cells.change = FormatSigned(change, change == static_cast<int64_t>(change) ? 0 : 1) + " (" +
                   FormatPercent(bar.close, previous) + ")";
    cells.changeClass = change > 0 ? "up" : change < 0 ? "down" : "flat";
  }
  return cells;
}

std::string ListTable(const CSimMarket& market, const std::vector<const CSimIssue*>& rows) {
  std::string table = "<table class='stock_table' summary=\"株価一覧\">\n<THEAD>\n<TR>";
  table +=
      "<TH class=name>銘柄名</TH><TH>業種</TH><TH>取引値</TH>"
      "<TH>前日比</TH><TH>出来高</TH>";
  table += "</TR>\n</THEAD>\n<tbody>\n";
  bool odd = false;
  for (const CSimIssue* issue : rows) {
    const CBrandRecord& r = issue->record;
    const PriceCells cells = PricesOf(market, *issue);
    odd = !odd;
    table += "<tr>\n  <td class=\"name\">\n    <a href=\"/stock/" + r.code + "/\">" +
             Escape(issue->ShownName()) + "</a>" + (odd ? "<br />" : "<BR>") + "\n    (" + r.code + "/" +
             Escape(MarketShortName(r.market)) + ")\n  </td>";
    table += "<td class=\"industry\">" + Escape(r.industry) + "</td>";
    table += "<td class=\"price\">" + cells.price + "&nbsp;<span class=\"time\">" + cells.date +
             "</span></td>";
    table += "<td class=\"" + cells.changeClass + "\">" + cells.change + "</td>";
    table += "<td class=\"volume\">" + cells.volume + "</td></tr>\n";
  }
  return table + "</tbody>\n</table>\n";
}

// The changed structure: a grid of blocks, no table rows and no line
// break before the code.
std::string ListGrid(const std::vector<const CSimIssue*>& rows) {
  std::string grid =
      "<div class=\"stock_grid\">\n<div class=\"grid_head\">"
      "<span>銘柄名</span><span>コード</span><span>市場</span>"
      "<span>業種</span></div>\n";
  for (const CSimIssue* issue : rows) {
    const CBrandRecord& r = issue->record;
    grid += "<div class=\"grid_row\"><span class=\"name\">" + Escape(issue->ShownName()) +
            "</span><span class=\"code\">" + r.code + "</span><span class=\"market\">" +
            Escape(MarketShortName(r.market)) + "</span><span class=\"industry\">" +
            Escape(r.industry) + "</span></div>\n";
  }
  return grid + "</div>\n";
}

}  // namespace

bool RenderStockListPage(const CSimMarket& market, const CSimRequest& request,
                         CSimResponse& response, int32_t page) {
  std::vector<const CSimIssue*> listed;
  for (const CSimIssue& issue : market.Issues()) {
    if (!issue.builtIn && issue.IsListedOn(market.LastDate())) listed.push_back(&issue);
  }
  const int32_t count = static_cast<int32_t>(listed.size());
  const int32_t lastPage = (count + kRowsPerPage - 1) / kRowsPerPage;

  std::string html = PageStart(
      StringFormat("全銘柄の株価一覧 %dページ目 | 株式銘柄リスト", page),
      "<meta name=\"description\" content=\"上場全銘柄の株価一覧です。\">\n", "stock_list");
  html +=
      "<header id=\"header\">\n<div class=\"logo\"><a href=\"/\">株式銘柄リスト</a></div>\n"
      "<nav class=\"global\"><ul>"
      "<li><a href=\"/market_jp/\">国内株式</a></li>"
      "<li><a href=\"/market_jp/ranking/\">ランキング</a></li>"
      "<li><a href=\"/market_jp/industry/\">業種別一覧</a></li>"
      "<li><a href=\"/news/\">ニュース</a></li>"
      "</ul></nav>\n</header>\n";
  html +=
      "<div id=\"contents\">\n<div class=\"breadcrumb\"><a href=\"/\">ホーム</a> &gt; "
      "<a href=\"/market_jp/\">国内株式</a> &gt; 株価一覧</div>\n";
  html += "<h1>全銘柄の株価一覧</h1>\n";

  if (page > lastPage) {
    html += "<p class=\"no_data\">該当するデータはありません。</p>\n";
    html += "<p><a href=\"" + PageUrl(1) + "\">一覧の最初のページへ</a></p>\n";
  } else {
    const int32_t first = (page - 1) * kRowsPerPage;
    const int32_t end = first + kRowsPerPage < count ? first + kRowsPerPage : count;
    const std::vector<const CSimIssue*> rows(listed.begin() + first, listed.begin() + end);
    html += "<p class=\"count\">全" + FormatNumber(count, 0) + "件中 " + std::to_string(first + 1) +
            "～" + std::to_string(end) + "件を表示</p>\n";
    html += Pager(page, lastPage);
    html += request.alteredStructure ? ListGrid(rows) : ListTable(market, rows);
    html += Pager(page, lastPage);
  }
  html +=
      "</div>\n<footer "
      "id=\"footer\"><p>株価は終値です。投資判断はご自身の責任で行ってください。</p>"
      "<p class=\"copyright\">(C) Stock List</p></footer>\n";
  html += PageEnd(
      StringFormat("<script src=\"/static/js/list.js\"></script>\n"
                   "<script>window.dataLayer = window.dataLayer || []; "
                   "dataLayer.push({\"pageType\": \"stock_list\", \"page\": %d});\n"
                   "if (window.innerWidth < 640 && dataLayer.length<8) { document.body.className "
                   "+= ' narrow'; }</script>\n",
                   page));
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}
