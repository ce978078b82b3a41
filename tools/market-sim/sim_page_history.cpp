// The finance portal's daily price history of a listed issue: the bars of
// the asked range, newest first, twenty rows a page, as traded (in the
// share count of their own day), with the split-adjusted close in the
// last column. A split effective in the range gets a row of its own, a
// notice spanning the price columns, above the bar of its day. A range
// (or page) without rows has no table, only a notice saying so.

#include <algorithm>
#include <vector>

#include "support/text.h"
#include "tools/market-sim/sim_page_finance.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

constexpr int32_t kRowsPerPage = 20;

struct Row {
  CDate date;
  const CDayRecord* bar = nullptr;       // a price row
  const CDivideRecord* split = nullptr;  // or a split notice
  double adjustedClose = 0;
};

std::string SplitNotice(const CDivideRecord& split) {
  return "分割: 1株 &rarr; " + FormatPrice(split.ratio) + "株";
}

// The rows of the range, newest first; a notice comes before the bar of
// its own day.
std::vector<Row> RowsOf(const CSimSeries& series, const CDate& from, const CDate& to) {
  std::vector<Row> rows;
  for (size_t i = 0; i < series.raw.size(); ++i) {
    const CDayRecord& bar = series.raw[i];
    if (bar.Date() < from || to < bar.Date()) continue;
    Row row;
    row.date = bar.Date();
    row.bar = &bar;
    int32_t index = -1;
    row.adjustedClose = series.adjusted.Find(bar.DateNumber(), index, kFindExact)
                            ? series.adjusted[index].close
                            : bar.close;
    rows.push_back(row);
  }
  for (const CDivideRecord& split : series.splits) {
    if (split.date < from || to < split.date) continue;
    Row row;
    row.date = split.date;
    row.split = &split;
    rows.push_back(row);
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if (!(a.date == b.date)) return b.date < a.date;
    return a.split != nullptr && b.split == nullptr;
  });
  return rows;
}

std::string PageLink(const std::string& code, const CDate& from, const CDate& to, int32_t page) {
  return StringFormat("/quote/%s/history?from=%u&to=%u&timeFrame=d&page=%d", code.c_str(),
                      from.ToNumber(), to.ToNumber(), page);
}

std::string Pager(const std::string& code, const CDate& from, const CDate& to, int32_t page,
                  int32_t lastPage) {
  std::string html = "<div class=\"Pagination__1mWy\">";
  if (page > 1) {
    html += "<a class=\"Pagination__prev__2cFw\" href=\"" + PageLink(code, from, to, page - 1) +
            "\">前へ</a>";
  }
  html += StringFormat("<span class=\"Pagination__count__3bQx\">%d / %d</span>", page,
                       lastPage < 1 ? 1 : lastPage);
  if (page < lastPage) {
    html += "<a class=\"Pagination__next__4dKz\" href=\"" + PageLink(code, from, to, page + 1) +
            "\">次へ</a>";
  }
  return html + "</div>\n";
}

std::string HistoryTable(const std::vector<Row>& rows, size_t first, size_t end) {
  std::string html =
      "<table class=\"StocksEtfReitPriceHistory__historyTable__13C_\">\n<thead>\n<tr>\n"
      "  <TH scope=\"col\">日付</TH><TH scope=\"col\">始値</TH><TH scope=\"col\">高値</TH>\n"
      "  <TH scope=\"col\">安値</TH><TH scope=\"col\">終値</TH><TH scope=\"col\">出来高</TH>\n"
      "  <TH scope=\"col\">調整後終値*</TH>\n</tr>\n</thead>\n<tbody>\n";
  for (size_t i = first; i < end; ++i) {
    const Row& row = rows[i];
    // The date cell spans lines, as the site's templates write it.
    html += "<tr>\n  <th class=\"date\">\n    " + DateKanji(row.date) + "\n  </th>\n";
    if (row.split != nullptr) {
      html += "  <td colspan='6' class=notice>" + SplitNotice(*row.split) + "</td>\n</tr>\n";
      continue;
    }
    const CDayRecord& bar = *row.bar;
    auto cell = [](const std::string& figure) {
      return "<td><span class=\"StyledNumber__value__3rXW\">" + figure + "</span></td>";
    };
    html += "  " + cell(FormatPrice(bar.open)) + cell(FormatPrice(bar.high)) +
            cell(FormatPrice(bar.low)) + cell(FormatPrice(bar.close)) + "\n  " +
            cell(FormatNumber(bar.volume, 0)) + cell(FormatPrice(row.adjustedClose)) +
            "\n</tr>\n";
  }
  return html + "</tbody>\n</table>\n";
}

// The changed structure: the same figures in a grid of blocks, without
// table rows.
std::string HistoryGrid(const std::vector<Row>& rows, size_t first, size_t end) {
  std::string html =
      "<div class=\"PriceHistoryGrid__1tQe\">\n<div class=\"PriceHistoryGrid__head__2uRf\">"
      "<span>日付</span><span>始値</span><span>高値</span><span>安値</span>"
      "<span>終値</span><span>出来高</span><span>調整後終値*</span></div>\n";
  for (size_t i = first; i < end; ++i) {
    const Row& row = rows[i];
    html += "<div class=\"PriceHistoryGrid__row__3vSg\"><span>" + DateKanji(row.date) + "</span>";
    if (row.split != nullptr) {
      html += "<span>" + SplitNotice(*row.split) + "</span></div>\n";
      continue;
    }
    html += "<span>" + FormatPrice(row.bar->open) + "</span><span>" + FormatPrice(row.bar->high) +
            "</span><span>" + FormatPrice(row.bar->low) + "</span><span>" +
            FormatPrice(row.bar->close) + "</span><span>" + FormatNumber(row.bar->volume, 0) +
            "</span><span>" + FormatPrice(row.adjustedClose) + "</span></div>\n";
  }
  return html + "</div>\n";
}

}  // namespace

bool RenderPriceHistoryPage(const CSimMarket& market, const CSimRequest& request,
                            CSimResponse& response, const std::string& code) {
  const CSimIssue* issue = FinanceIssue(market, code);
  const auto series = issue != nullptr ? market.Series(code) : nullptr;
  if (issue == nullptr || !series) {
    SendNotFound(response, kFinanceSiteName);
    return true;
  }
  // Without a range the page covers the whole history; an unreadable
  // bound counts as absent. Only daily rows are served, whatever the
  // time frame asked.
  CDate from = market.FirstDate();
  CDate to = market.LastDate();
  ReadDateNumber(Param(request, "from"), from);
  ReadDateNumber(Param(request, "to"), to);
  int32_t page = 1;
  if (!ReadCount(Param(request, "page"), page) || page < 1) page = 1;

  const std::vector<Row> rows = RowsOf(*series, from, to);
  const int32_t lastPage = static_cast<int32_t>((rows.size() + kRowsPerPage - 1) / kRowsPerPage);
  const size_t first = std::min(rows.size(), static_cast<size_t>(page - 1) * kRowsPerPage);
  const size_t end = std::min(rows.size(), first + kRowsPerPage);

  const CBrandRecord& r = issue->record;
  std::string html = FinancePageStart(issue->ShownName() + "【" + r.code + "】：時系列・過去の株価");
  html += FinanceIssueHeading(market, *issue, *series);
  html += FinanceIssueTabs(r.code, "history");
  html += "<section class=\"StocksEtfReitPriceHistory__1a4u\">\n<h2>時系列</h2>\n";
  html += "<form class=\"PriceHistoryForm__5wTh\" action=\"/quote/" + r.code +
          "/history\" method=\"get\"><input type=\"hidden\" name=\"timeFrame\" value=\"d\">"
          "<label>期間</label><input type=\"text\" name=\"from\" value=\"" +
          std::to_string(from.ToNumber()) + "\"><input type=\"text\" name=\"to\" value=\"" +
          std::to_string(to.ToNumber()) + "\"><button type=\"submit\">表示</button></form>\n";
  // A range without rows shows a notice and no table at all.
  if (first == end) {
    html += "<p class=\"NoData__6xUi\">該当する期間のデータはありません。</p>\n";
  } else {
    html += request.alteredStructure ? HistoryGrid(rows, first, end)
                                     : HistoryTable(rows, first, end);
  }
  html +=
      "<p class=\"StocksEtfReitPriceHistory__note__7yVj\">*は株式分割などを考慮した値です。"
      "<br />\n出来高は&nbsp;株数で表示しています。</p>\n"
      "<script>var cells = document.querySelectorAll(\"td span\");\n"
      "for (var i = 0; i < cells.length && i<200; i++) { cells[i].title = \"\"; }</script>\n";
  html += Pager(r.code, from, to, page, lastPage);
  html += "</section>\n";
  html += FinancePageEnd(
      StringFormat("{\"priceHistory\": {\"code\": \"%s\", \"from\": %u, \"to\": %u, \"page\": %d, "
                   "\"rows\": %zu}}",
                   r.code.c_str(), from.ToNumber(), to.ToNumber(), page, rows.size()));
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}
