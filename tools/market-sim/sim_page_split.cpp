// The chart page of the finance portal's older stocks host, whose side
// column lists an issue's splits, newest first: "[1:n]" (n new shares
// for one) and the effective date in full-width parentheses. An issue
// without splits has no split section. The old host answers every code
// with a page: an unknown one gets a notice instead of the chart.
//
// The host's markup is old: upper-case table tags, unquoted attribute
// values, line breaks written both as "<BR>" and "<br />", texts indented
// on lines of their own.

#include "support/text.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

const char kSiteName[] = "ファイナンス 株式";

std::string RatioText(double ratio) { return "[1:" + FormatPrice(ratio) + "]"; }

std::string DateText(const CDate& date) { return "（" + DateSlash(date) + "）"; }

std::string SplitSection(const CDivide& splits, bool altered) {
  std::string html =
      "<TD class=chartInfo valign=top width=180>\n"
      "<B class='splitTitle'>分割情報</B><BR>\n";
  for (auto it = splits.rbegin(); it != splits.rend(); ++it) {
    // The changed structure puts the date before the ratio.
    if (altered) {
      html += "  " + DateText(it->date) + "<BR>\n  " + RatioText(it->ratio) + "<br />\n";
    } else {
      html += "  " + RatioText(it->ratio) + "<BR>\n  " + DateText(it->date) + "<br />\n";
    }
  }
  return html + "</TD>";
}

}  // namespace

bool RenderSplitPage(const CSimMarket& market, const CSimRequest& request, CSimResponse& response) {
  const std::string code = Param(request, "code");
  const CSimIssue* issue = code.empty() ? nullptr : market.Find(code);
  const auto series = issue != nullptr ? market.Series(code) : nullptr;

  std::string html = PageStart(
      (issue != nullptr ? issue->ShownName() + "(" + code + ")" : std::string("銘柄検索")) +
          "：チャート - " + kSiteName,
      "<link rel=\"stylesheet\" href=\"/css/stocks.css\">\n", "chart");
  html +=
      "<div id=\"header\"><table width=\"100%\" class=\"header\"><tr>"
      "<td class=\"logo\"><a href=\"/\">" +
      std::string(kSiteName) +
      "</a></td>"
      "<td class=\"search\"><form action=\"/stocks/chart/\" method=\"get\">"
      "<input type=\"text\" name=\"code\" size=\"10\" value=\"" +
      Escape(code) +
      "\">"
      "<input type=\"submit\" value=\"チャート表示\"></form></td></tr></table></div>\n";
  html +=
      "<div id=\"navi\"><a href=\"/\">トップ</a> | <a href=\"/stocks/ranking/\">ランキング</a>"
      " | <a href=\"/stocks/news/\">ニュース</a></div>\n";

  if (issue == nullptr || !series) {
    html +=
        "<div id=\"main\"><p class=\"error\">該当する銘柄はありません。"
        "コードをご確認のうえ、もう一度検索してください。</p></div>\n";
  } else {
    const CBrandRecord& r = issue->record;
    html += "<div id=\"main\">\n<h1>" + Escape(issue->ShownName()) + "（" + r.code + "）</h1>\n";
    html +=
        "<table class=\"chartTable\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\"><tr>"
        "<td class=\"chartImage\"><img src=\"/chart/" +
        r.code +
        "/1y.png\" width=\"512\" height=\"288\" alt=\"チャート\"><br />"
        "<a href=\"/stocks/chart/?code=" +
        r.code +
        "&amp;ct=z&amp;t=1y\">1年</a> | "
        "<a href=\"/stocks/chart/?code=" +
        r.code + "&amp;ct=z&amp;t=5y\">5年</a></td>";
    if (!series->splits.empty()) {
      html += SplitSection(series->splits, request.alteredStructure);
    }
    html += "</tr></table>\n";
    html += "<p class=\"note\">チャートは株式分割を考慮して表示しています。</p>\n</div>\n";
  }
  html += "<div id=\"footer\"><p>(C) Finance Portal Stocks</p></div>\n";
  html += PageEnd(
      "<script type=\"text/javascript\" src=\"/js/chart.js\"></script>\n"
      "<SCRIPT language=JavaScript>\n<!--\n"
      "if (navigator.appVersion.charAt(0) < 4 && document.images) { chartInit(); }\n"
      "//-->\n</SCRIPT>\n");
  SendPage(response, html);
  return true;
}
