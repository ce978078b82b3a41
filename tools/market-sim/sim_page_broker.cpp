// The broker's mobile site: the stock quote form and its answer. A post
// with a listed code answers the issue's quote, headed by the order form
// that carries the code in a hidden field; any other code (unknown,
// delisted, built in) answers "no such issue", above an empty search
// form. A plain visit shows the search form alone.
//
// The figures are the issue's last bar as traded. An issue that did not
// trade on the market's last day shows its last close as the current
// price and dashes for the day's other prices.

#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

const char kSiteName[] = "ブローカー モバイル";

std::string SearchForm(const std::string& fieldName) {
  return "<form name=\"searchForm\" action=\"/bsite/price/searchStock.do\" method=\"post\">\n"
         "<div class=\"search\">銘柄コード<br /><input type=\"text\" name=\"" +
         fieldName +
         "\" value=\"\" size=\"8\" istyle=\"4\"><br />銘柄名<br />"
         "<input type=\"text\" name=\"stock_name\" value=\"\" size=\"16\"><br />"
         "<input type=\"submit\" name=\"id\" value=\"検索\"></div>\n</form>\n";
}

std::string Top(const std::string& title) {
  return PageStart(title + " | " + kSiteName, "", "mobile") +
         "<div id=\"header\"><a href=\"/bsite/\">" + std::string(kSiteName) +
         "</a></div>\n<div class=\"menu\"><a href=\"/bsite/member/\">口座</a> | "
         "<a href=\"/bsite/price/\">株価</a> | <a href=\"/bsite/news/\">ニュース</a></div>\n"
         "<hr>\n";
}

std::string Bottom() {
  return "<hr>\n<div id=\"footer\"><a href=\"/bsite/\">トップ</a><br />(C) Broker "
         "Securities</div>\n" +
         PageEnd("");
}

// "2,345(15:00)" for a price of the day, "--" when the issue did not trade.
std::string DayPrice(bool traded, double value, const char* time) {
  return traded ? FormatPrice(value) + "(" + time + ")" : std::string("--");
}

}  // namespace

bool RenderBrokerQuotePage(const CSimMarket& market, const CSimRequest& request,
                           CSimResponse& response) {
  const bool altered = request.alteredStructure;
  // The changed structure names the code field differently.
  const std::string field = altered ? "productCode" : "ipm_product_code";
  if (request.method != "POST") {
    SendPage(response, WithLowerCaseDoctype(Top("株価検索") + "<h1>株価検索</h1>\n" +
                                            SearchForm(field) + Bottom()));
    return true;
  }

  const std::string code = Param(request, "ipm_product_code");
  const CSimIssue* issue = code.empty() ? nullptr : market.Find(code);
  const auto series =
      issue != nullptr && !issue->builtIn && !issue->IsDelisted() ? market.Series(code) : nullptr;
  const int32_t last = series ? LastBarOnOrBefore(series->raw, market.LastDate()) : -1;
  if (last < 0) {
    std::string html = Top("株価検索結果");
    html += "<h1>株価検索結果</h1>\n<p class=\"error\">";
    html += altered ? "該当する銘柄が見つかりませんでした。" : "対象銘柄はありません。";
    html += "</p>\n<p>銘柄コードをご確認のうえ、再度検索してください。</p>\n";
    SendPage(response, WithLowerCaseDoctype(html + SearchForm(field) + Bottom()));
    return true;
  }

  const CBrandRecord& r = issue->record;
  const CDayRecord& bar = series->raw[last];
  const bool traded = bar.Date() == market.LastDate();
  double previous = last > 0 ? series->raw[last - 1].close : bar.close;
  for (const CDivideRecord& split : series->splits) {
    if (split.date == bar.Date() && split.ratio > 0) previous /= split.ratio;
  }

  std::string html = Top(r.name + " 株価");
  html += "<div class=\"stock\"><b>" + Escape(r.name) + "</b><br />" + r.code + " " +
          Escape(r.market) + "</div>\n";
  html +=
      "<form name=\"orderForm\" action=\"/bsite/member/stock/buyOrderEntry.do\" method=\"post\">"
      "<input type=\"hidden\" name=\"" +
      field + "\" value=\"" + r.code +
      "\">"
      "<input type=\"hidden\" name=\"market\" value=\"TKY\">"
      "<input type=\"submit\" value=\"買い注文\"> <input type=\"submit\" name=\"sell\" "
      "value=\"売り注文\"></form>\n";
  html += "<table class=\"price\" border=\"0\" cellpadding=\"1\" cellspacing=\"0\">\n";
  html += "<tr><td>現在値</td><td colspan=\"3\"><b>" + FormatPrice(bar.close) + "</b>(" +
          (traded ? std::string("15:30") : DateMonthDay(bar.Date())) + ")</td></tr>\n";
  html += "<tr><td>前日比</td><td colspan=\"3\">" + FormatSigned(bar.close - previous, 0) + "(" +
          FormatPercent(bar.close, previous) + ")</td></tr>\n";
  html += "<tr><td>始値</td><td>" + DayPrice(traded, bar.open, "09:00") +
          "</td><td>出来高</td><td>" + (traded ? FormatNumber(bar.volume, 0) : std::string("0")) +
          "</td></tr>\n";
  html += "<tr><td>高値</td><td>" + DayPrice(traded, bar.high, "10:12") +
          "</td><td>売買代金</td><td>" +
          (traded ? FormatNumber(bar.volume * bar.close / 1000, 0) + "千円" : std::string("0")) +
          "</td></tr>\n";
  html += "<tr><td>安値</td><td>" + DayPrice(traded, bar.low, "13:47") +
          "</td><td>前日終値</td><td>" + FormatPrice(previous) + "</td></tr>\n";
  html += "</table>\n<p>※株価は20分ディレイです。</p>\n";
  SendPage(response, WithLowerCaseDoctype(html + SearchForm(field) + Bottom()));
  return true;
}
