#include "tools/market-sim/sim_page_finance.h"

#include "tools/market-sim/sim_page_html.h"

const char kFinanceSiteName[] = "ファイナンスポータル";

std::string FinancePageStart(const std::string& title) {
  std::string html = PageStart(title + " - " + kFinanceSiteName,
                               "<link rel=\"stylesheet\" href=\"/static/css/finance.css\">\n"
                               "<script src=\"/static/js/vendor.js\" defer></script>\n",
                               "finance");
  html +=
      "<div id=\"root\">\n<header class=\"Header__1a2b\">\n"
      "<div class=\"Header__logo__3cDe\"><a href=\"/\">" +
      std::string(kFinanceSiteName) +
      "</a></div>\n"
      "<form class=\"Header__search__4fGh\" action=\"/search/\" method=\"get\">"
      "<input type=\"text\" name=\"query\" placeholder=\"コード・銘柄名\">"
      "<button type=\"submit\">検索</button></form>\n"
      "<nav class=\"GlobalNav__5iJk\"><ul>"
      "<li><a href=\"/\">トップ</a></li>"
      "<li><a href=\"/news/\">ニュース</a></li>"
      "<li><a href=\"/stocks/ranking/\">ランキング</a></li>"
      "<li><a href=\"/portfolio/\">ポートフォリオ</a></li>"
      "<li><a href=\"/fx/\">為替・FX</a></li>"
      "</ul></nav>\n</header>\n<main id=\"contents\">\n";
  return html;
}

std::string FinancePageEnd(const std::string& state) {
  std::string html =
      "</main>\n<footer class=\"Footer__6lMn\">\n"
      "<p>株価は最大20分遅れで表示しています。</p>\n"
      "<ul><li><a href=\"/help/\">ヘルプ</a></li>"
      "<li><a href=\"/terms/\">利用規約</a></li></ul>\n"
      "<p class=\"Footer__copyright__7oPq\">(C) Finance Portal</p>\n"
      "</footer>\n</div>\n";
  return html + PageEnd("<script>window.__PRELOADED_STATE__ = " + state +
                        ";</script>\n"
                        "<script src=\"/static/js/quote.js\" defer></script>\n");
}

const CSimIssue* FinanceIssue(const CSimMarket& market, const std::string& code) {
  const CSimIssue* issue = market.Find(code);
  if (issue == nullptr || issue->builtIn || issue->IsDelisted()) return nullptr;
  return issue;
}

std::string FinanceIssueHeading(const CSimMarket& market, const CSimIssue& issue,
                                const CSimSeries& series) {
  const CBrandRecord& r = issue.record;
  std::string html = "<section class=\"PriceBoard__8rSt\">\n<div class=\"PriceBoard__main__9uVw\">";
  html += "<h1 class=\"PriceBoard__name__0xYz\">" + Escape(issue.ShownName()) + "</h1>";
  html += "<span class=\"PriceBoard__code__1aBc\">" + r.code + "</span>";
  html += "<span class=\"PriceBoard__market__2dEf\">" + Escape(r.market) + "</span>";
  const int32_t last = LastBarOnOrBefore(series.raw, market.LastDate());
  if (last >= 0) {
    const CDayRecord& bar = series.raw[last];
    html += "<span class=\"PriceBoard__price__3gHi\">" + FormatPrice(bar.close) + "</span>";
    html += "<time class=\"PriceBoard__time__4jKl\">" + DateMonthDay(bar.Date()) + "</time>";
  }
  return html + "</div>\n</section>\n";
}

std::string FinanceIssueTabs(const std::string& code, const std::string& current) {
  struct Tab {
    const char* key;
    const char* label;
    std::string href;
  };
  const Tab tabs[] = {
      {"quote", "株価", "/quote/" + code},
      {"chart", "チャート", "/quote/" + code + "/chart"},
      {"history", "時系列", "/quote/" + code + "/history"},
      {"news", "ニュース", "/quote/" + code + "/news"},
      {"profile", "企業情報", "/quote/" + code + "/profile"},
      {"margin", "信用残", "/quote/" + code + "/history?styl=margin&page=1"},
  };
  std::string html = "<nav class=\"QuoteTabs__5mNo\"><ul>";
  for (const Tab& tab : tabs) {
    html += tab.key == current ? "<li class=\"QuoteTabs__current__6pQr\">" : std::string("<li>");
    html += "<a href=\"" + tab.href + "\">" + tab.label + "</a></li>";
  }
  return html + "</ul></nav>\n";
}
