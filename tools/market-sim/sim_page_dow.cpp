// The Dow average's pages: the Dow forecast site's daily table for a
// date range (newest first, after the table head: date, open, high, low,
// close a row; with the `shortRows` request the page breaks off right
// after the oldest row's close; the changed structure shows date, close
// and change a row) and the finance portal's quote page, where each figure
// follows a link to its glossary entry ("用語").

#include "support/text.h"
#include "tools/market-sim/sim_page_finance.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

const char kDowCode[] = "1004";
const char kForecastSiteName[] = "NYダウ予想ネット";

std::string Figure(double value) { return FormatNumber(value, 2); }

}  // namespace

bool RenderDowDataPage(const CSimMarket& market, const CSimRequest& request,
                       CSimResponse& response) {
  const auto series = market.Series(kDowCode);
  const CChart empty;
  const CChart& bars = series ? series->raw : empty;
  const bool altered = request.alteredStructure;

  // Without a readable range the page shows the last twenty days.
  CDate to = bars.empty() ? market.LastDate() : bars.back().Date();
  CDate from = to.SubDays(19);
  CDate asked;
  if (asked.Parse(Param(request, "end_date"))) to = asked;
  if (asked.Parse(Param(request, "start_date"))) from = asked;

  std::string html = PageStart(
      "NYダウ 日足データ（" + DateDash(from) + "～" + DateDash(to) + "） | " + kForecastSiteName,
      "", "nydow");
  html += "<header class=\"header\"><a class=\"logo\" href=\"/\">" +
          std::string(kForecastSiteName) +
          "</a><nav><a href=\"/nydow/\">NYダウ予想</a><a href=\"/nydow/data/\">日足データ</a>"
          "<a href=\"/nikkei/\">日経平均予想</a></nav></header>\n";
  html += "<main class=\"container\">\n<h1>NYダウ 日足データ</h1>\n";
  html +=
      "<form class=\"range\" action=\"/nydow/data/\" method=\"get\">"
      "<input type=\"date\" name=\"start_date\" value=\"" +
      DateDash(from) +
      "\"> ～ "
      "<input type=\"date\" name=\"end_date\" value=\"" +
      DateDash(to) +
      "\">"
      "<button type=\"submit\">表示</button></form>\n";
  html += "<table class=\"table table-striped\">\n";
  // The changed structure shows the close and its change only.
  html += altered ? "<thead>\n<tr><th>日付</th><th>終値</th><th>前日比</th></tr>\n</thead>\n"
                  : "<thead>\n<tr>\n  <th>日付</th><th>始値</th><th>高値</th>"
                    "<th>安値</th><th>終値</th>\n</tr>\n</thead>\n";
  html += "<tbody>\n";
  const CDayRecord* oldest = nullptr;
  for (auto it = bars.rbegin(); it != bars.rend(); ++it) {
    if (to < it->Date()) continue;
    if (it->Date() < from) break;
    oldest = &*it;
  }
  for (auto it = bars.rbegin(); it != bars.rend(); ++it) {
    if (to < it->Date()) continue;
    if (it->Date() < from) break;
    if (altered) {
      const double change = it + 1 != bars.rend() ? it->close - (it + 1)->close : 0;
      html += "<tr><td>" + DateSlash(it->Date()) + "</td><td>" + Figure(it->close) + "</td><td>" +
              FormatSigned(change, 2) + "</td></tr>\n";
      continue;
    }
    html += "<tr>\n  <td>\n    " + DateSlash(it->Date()) + "\n  </td>\n  <td>" +
            Figure(it->open) + "</td><td>" + Figure(it->high) + "</td><td>" + Figure(it->low) +
            "</td><td>" + Figure(it->close) + "</td>";
    if (request.shortRows && &*it == oldest) {
      // The page breaks off right after the oldest row's last figure.
      SendPage(response, WithLowerCaseDoctype(html));
      return true;
    }
    html += "\n</tr>\n";
  }
  html += "</tbody>\n</table>\n";
  html += "<p class=\"note\">米国市場の休場日はデータがありません。</p>\n</main>\n";
  html += "<footer class=\"footer\">(C) NY Dow Forecast</footer>\n";
  html += PageEnd("<script src=\"/assets/app.js\"></script>\n");
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}

bool RenderDowQuotePage(const CSimMarket& market, const CSimRequest& request,
                        CSimResponse& response) {
  const auto series = market.Series(kDowCode);
  const bool has = series && !series->raw.empty();
  const CDayRecord last = has ? series->raw.back() : CDayRecord();
  const double previous =
      has && series->raw.size() > 1 ? series->raw[series->raw.size() - 2].close : last.close;
  auto figure = [&](double value) { return has ? Figure(value) : std::string("---"); };
  // The changed structure calls the glossary links differently.
  const std::string term = request.alteredStructure ? "解説" : "用語";
  auto termLink = [&](const char* entry) {
    return "<a class=\"TermLink__1sPu\" href=\"/term/" + std::string(entry) + "\">" + term + "</a>";
  };
  auto item = [&](const char* name, const char* entry, double value) {
    return "<li class=\"DataListItem__3Mpy\"><dl><dt class=\"DataListItem__name__3RQJ\">" +
           std::string(name) + termLink(entry) +
           "</dt><dd><span class=\"StyledNumber__value__3rXW\">" + figure(value) +
           "</span></dd></dl></li>\n";
  };

  std::string html = FinancePageStart("NYダウ【^DJI】：指数・株価");
  html +=
      "<section class=\"PriceBoard__1bL1\">\n<h1 class=\"PriceBoard__name__3ow8\">NYダウ</h1>"
      "<span class=\"PriceBoard__code__1Rtx\">^DJI</span>\n";
  html += "<div class=\"PriceBoard__price__2Wf3\"><span>現在値</span>" + termLink("current") +
          "<span class=\"StyledNumber__value__3rXW\">" + figure(last.close) + "</span></div>\n";
  html += "<dl class=\"PriceChangeLabel__1tnY\"><dt>前日比</dt><dd>" +
          (has ? FormatSigned(last.close - previous, 2) + "(" +
                     FormatPercent(last.close, previous) + ")"
               : std::string("---")) +
          "</dd></dl><time>" + (has ? DateMonthDay(last.Date()) : std::string("---")) +
          "</time>\n</section>\n";
  html +=
      "<section class=\"StocksDetail__3oIm\">\n<h2>詳細情報</h2>\n<ul class=\"DataList__1bYV\">\n";
  html += item("始値", "open", last.open);
  html += item("高値", "high", last.high);
  html += item("安値", "low", last.low);
  html +=
      "<li class=\"DataListItem__3Mpy\"><dl><dt class=\"DataListItem__name__3RQJ\">前日終値</dt>"
      "<dd><span class=\"StyledNumber__value__3rXW\">" +
      figure(previous) + "</span></dd></dl></li>\n";
  html += "</ul>\n</section>\n";
  html += FinancePageEnd("{\"mainIndexPriceBoard\": {\"code\": \"^DJI\"}}");
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}
