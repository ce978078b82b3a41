// The finance portal's weekly margin balances of an issue: the balances
// as reported (in the share count of their week), newest week first,
// twenty weeks a page. An issue without margin trading, and a built-in
// issue, has the page but no table.
//
// The page is written as the portal writes it: a lower-case document
// type, an upper-case header row,
// each date on a line of its own, balances followed by an entity and their
// unit, a comment after the table and a script that compares with "<".

#include <algorithm>

#include "support/text.h"
#include "tools/market-sim/sim_page_finance.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

constexpr int32_t kRowsPerPage = 20;

std::string Ratio(const CMarginRecord& entry) {
  return entry.sell > 0 ? FormatNumber(entry.buy / entry.sell, 2) : "---";
}

std::string PageLink(const std::string& code, int32_t page) {
  return StringFormat("/quote/%s/history?styl=margin&page=%d", code.c_str(), page);
}

// Rows `first` to `end` counted from the newest entry.
std::string MarginTable(const CMargin& margin, size_t first, size_t end) {
  std::string html =
      "<table class=MarginHistory__table__2kLp>\n<THEAD><TR>"
      "<TH scope='col'>日付</TH><TH scope='col'>売残</TH><TH scope='col'>買残</TH>"
      "<TH scope='col'>信用倍率</TH>"
      "</TR></THEAD>\n<tbody>\n";
  for (size_t i = first; i < end; ++i) {
    const CMarginRecord& entry = margin[margin.size() - 1 - i];
    html += "<tr>\n  <td class=\"MarginHistory__date__8tUv\">\n    " + DateKanji(entry.date) +
            "\n  </td>\n  <td>" + FormatNumber(entry.sell, 0) + "&nbsp;株</td><td>" +
            FormatNumber(entry.buy, 0) + "&nbsp;株</td><td>" + Ratio(entry) + "</td>\n</tr>\n";
  }
  return html + "</tbody>\n</table>\n<!-- /MarginHistory__table -->\n";
}

// The changed structure: a grid of blocks, without table rows.
std::string MarginGrid(const CMargin& margin, size_t first, size_t end) {
  std::string html =
      "<div class=\"MarginHistory__grid__3mNq\">\n<div class=\"MarginHistory__head__4oPr\">"
      "<span>日付</span><span>売残</span><span>買残</span><span>信用倍率</span></div>\n";
  for (size_t i = first; i < end; ++i) {
    const CMarginRecord& entry = margin[margin.size() - 1 - i];
    html += "<div class=\"MarginHistory__row__5qRs\"><span>" + DateKanji(entry.date) +
            "</span><span>" + FormatNumber(entry.sell, 0) + "</span><span>" +
            FormatNumber(entry.buy, 0) + "</span><span>" + Ratio(entry) + "</span></div>\n";
  }
  return html + "</div>\n";
}

}  // namespace

bool RenderMarginHistoryPage(const CSimMarket& market, const CSimRequest& request,
                             CSimResponse& response, const std::string& code) {
  const CSimIssue* issue = market.Find(code);
  const auto series = issue != nullptr ? market.Series(code) : nullptr;
  if (issue == nullptr || issue->IsDelisted() || !series) {
    SendNotFound(response, kFinanceSiteName);
    return true;
  }
  int32_t page = 1;
  if (!ReadCount(Param(request, "page"), page) || page < 1) page = 1;

  const CBrandRecord& r = issue->record;
  const CMargin& margin = series->margin;
  std::string html = FinancePageStart(issue->ShownName() + "【" + r.code + "】：信用残時系列");
  html += FinanceIssueHeading(market, *issue, *series);
  html += FinanceIssueTabs(r.code, "margin");
  html += "<section class=\"MarginHistory__1jKo\">\n<h2>信用残の推移</h2>\n";
  if (issue->builtIn || r.lendable == 0 || margin.empty()) {
    html +=
        "<p "
        "class=\"MarginHistory__none__6sTu\">"
        "この銘柄は信用取引の対象ではないため、信用残はありません。</p>\n";
  } else {
    const int32_t lastPage =
        static_cast<int32_t>((margin.size() + kRowsPerPage - 1) / kRowsPerPage);
    const size_t first = std::min(margin.size(), static_cast<size_t>(page - 1) * kRowsPerPage);
    const size_t end = std::min(margin.size(), first + kRowsPerPage);
    html += "<p class=\"MarginHistory__unit__7uVw\">単位：株（週末時点）</p>\n";
    html +=
        request.alteredStructure ? MarginGrid(margin, first, end) : MarginTable(margin, first, end);
    if (first == end) html += "<p class=\"NoData__6xUi\">データがありません。</p>\n";
    html += "<div class=\"Pagination__1mWy\">";
    if (page > 1) html += "<a href=\"" + PageLink(r.code, page - 1) + "\">前へ</a>";
    html += StringFormat("<span>%d / %d</span>", page, lastPage);
    if (page < lastPage) html += "<a href=\"" + PageLink(r.code, page + 1) + "\">次へ</a>";
    html += "</div>\n";
  }
  html += "</section>\n";
  html +=
      "<script>document.querySelectorAll('tr').forEach(function (row, i) { if (i % 2 < 1) "
      "row.classList.add('even'); });</script>\n";
  html += FinancePageEnd(
      StringFormat("{\"marginHistory\": {\"code\": \"%s\", \"page\": %d}}", r.code.c_str(), page));
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}
