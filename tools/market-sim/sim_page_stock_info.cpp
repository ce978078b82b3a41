// The stock information site's page of an issue: the title names it with
// its code in parentheses, a summary lists the day's open, high, low and
// volume, and the price chart's container carries the last price in its
// data attributes. A delisted issue's page says so right under the
// heading (its last figures follow); an unknown code, and a built-in
// issue, get a 404 page.

#include "support/text.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

const char kSiteName[] = "株式情報ナビ";

// The name with its parentheses written full width, so that the first
// ASCII "(" of the title is the one before the code.
std::string TitleName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '(') {
      out += "（";
    } else if (c == ')') {
      out += "）";
    } else {
      out += name[i];
      // The trail byte of a double-byte character is copied as it is.
      if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < name.size()) {
        out += name[++i];
      }
    }
  }
  return out;
}

// A number for a data attribute: no group commas, decimals only when needed.
std::string PlainNumber(double value) {
  return value == static_cast<double>(static_cast<int64_t>(value)) ? StringFormat("%.0f", value)
                                                                   : StringFormat("%.2f", value);
}

std::string Cell(const char* label, const std::string& value) {
  return "<tr><th scope=\"row\">" + std::string(label) + "</th><td>" + value + "</td></tr>\n";
}

}  // namespace

bool RenderStockInfoPage(const CSimMarket& market, const CSimRequest& request,
                         CSimResponse& response, const std::string& code) {
  const CSimIssue* issue = market.Find(code);
  const auto series = issue != nullptr && !issue->builtIn ? market.Series(code) : nullptr;
  if (!series) {
    SendNotFound(response, kSiteName);
    return true;
  }
  const CBrandRecord& r = issue->record;
  const CDate asOf = issue->IsDelisted() ? issue->delisted : market.LastDate();
  const int32_t last = LastBarOnOrBefore(series->raw, asOf);
  const bool has = last >= 0;
  const CDayRecord bar = has ? series->raw[last] : CDayRecord();
  const bool traded = has && bar.Date() == asOf;
  double previous = last > 0 ? series->raw[last - 1].close : bar.close;
  for (const CDivideRecord& split : series->splits) {
    if (has && split.date == bar.Date() && split.ratio > 0) previous /= split.ratio;
  }
  const bool altered = request.alteredStructure;
  auto dayPrice = [&](double value) { return traded ? FormatPrice(value) : std::string("-"); };

  std::string html = PageStart(TitleName(r.name) + "(" + r.code + ") 株価・株式情報 | " + kSiteName,
                               "<meta name=\"description\" content=\"" + Escape(TitleName(r.name)) +
                                   "の株価、チャート、業績をまとめて確認できます。\">\n"
                                   "<script>if (window.innerWidth < 600 && screen.width<800) "
                                   "{ document.documentElement.className = \"sp\"; }</script>\n",
                               "stock");
  html += "<header class=\"site-header\"><a class=\"logo\" href=\"/\">" + std::string(kSiteName) +
          "</a><nav><a href=\"/ranking/\">ランキング</a><a href=\"/news/\">ニュース</a>"
          "<a href=\"/screening/\">スクリーニング</a></nav></header>\n";
  html += "<main class=\"stock-page\">\n<div class=\"stock-heading\"><h1>" + Escape(r.name) +
          "</h1><span class=\"code\">" + r.code + "</span><span class=\"market\">" +
          Escape(r.market) + "</span></div>\n";
  if (issue->IsDelisted()) {
    html += "<div class=\"delisted\"><span class=\"badge\">上場廃止</span><p>この銘柄は" +
            DateKanji(issue->delisted) +
            "をもって<br />\n上場廃止となりました。&nbsp;以下は最終売買日の株価です。</p></div>\n";
  }
  html +=
      "<div class=\"price-now\"><span class=\"price\">" +
      (has ? FormatPrice(bar.close) : std::string("-")) +
      "</span><span class=\"unit\">円</span>"
      "<span class=\"change\">" +
      (has ? FormatSigned(bar.close - previous, 0) + " (" + FormatPercent(bar.close, previous) + ")"
           : std::string("-")) +
      "</span><span class=\"date\">" + (has ? DateSlash(bar.Date()) : std::string("-")) +
      "</span></div>\n";
  html += "<table class=\"summary\">\n";
  html += Cell("前日終値", has ? FormatPrice(previous) : "-");
  html += Cell("始値", dayPrice(bar.open));
  html += Cell("高値", dayPrice(bar.high));
  html += Cell("安値", dayPrice(bar.low));
  html += Cell("出来高", traded ? FormatNumber(bar.volume, 0) + "株" : std::string("0株"));
  html += Cell("売買単位", FormatNumber(r.unit, 0) + "株");
  html += "</table>\n";
  // The chart's script draws from the data attributes; the changed
  // structure renames the price attribute.
  html += StringFormat(
      "<div id=\"stock-chart\" class=\"chart\" data-code=\"%s\" %s=\"%s\" "
      "data-date=\"%u\"></div>\n",
      r.code.c_str(), altered ? "data-last-price" : "data-price",
      has ? PlainNumber(bar.close).c_str() : "0", has ? bar.Date().ToNumber() : 0u);
  html += "<section class=\"profile\"><h2>企業概要</h2><dl><dt>業種</dt><dd>" + Escape(r.industry) +
          "</dd><dt>発行済株式数</dt><dd>" + FormatNumber(r.sharesOutstanding, 0) +
          "株</dd></dl></section>\n";
  html += "</main>\n<footer class=\"site-footer\"><p>(C) Stock Info Navi</p></footer>\n";
  html += PageEnd("<script src=\"/assets/chart.js\" defer></script>\n");
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}
