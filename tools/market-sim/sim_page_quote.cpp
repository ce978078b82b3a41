// The finance portal's quote page of a listed issue: price board, the
// day's figures, reference figures and margin trading. The portal is in
// the middle of a redesign: issues whose code ends in an odd digit still
// get the older layout (class names such as "stocksInfo clearFix"), all
// others the newer one (generated class names such as
// "PriceBoardMain__name__6uDh"). The choice is fixed by the code so that a
// given issue always looks the same.
//
// The older layout explains its figures in help texts, and each help
// text stands right before the figure it introduces: the readers take the
// figure that follows a help text holding a known phrase. That is why,
// for instance, the help text of EPS is the one that mentions the price
// book-value ratio.
//
// The markup is written the way the portal's servers write it: a
// lower-case document type, texts broken over lines and indented,
// upper-case and lower-case tags, entities beside the figures, comments,
// attribute values in double, single and no quotes, and scripts whose code
// holds "<". A code the portal does not know (or no longer lists) gets an
// ordinary page, status 200, that says so. An issue without an industry
// link shows the date of its last bar in the industry's place, and an
// issue the portal counts as unlisted shows the market "自動".

#include <cmath>

#include "support/text.h"
#include "tools/market-sim/sim_page_finance.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

// Everything the two layouts show, worked out once.
struct QuoteFigures {
  bool hasBar = false;
  bool tradedToday = false;  // the last bar is of the market's last day
  CDate date;                // of the last bar
  double close = 0, open = 0, high = 0, low = 0, volume = 0;
  double previous = 0;  // close of the bar before, in today's shares
  bool hasMargin = false;
  CDate marginDate;
  double marginBuy = 0, marginSell = 0;
  double marginBuyChange = 0, marginSellChange = 0;
};

QuoteFigures FiguresOf(const CSimMarket& market, const CSimSeries& series) {
  QuoteFigures f;
  const int32_t last = LastBarOnOrBefore(series.raw, market.LastDate());
  if (last >= 0) {
    const CDayRecord& bar = series.raw[last];
    f.hasBar = true;
    f.date = bar.Date();
    f.tradedToday = f.date == market.LastDate();
    f.close = bar.close;
    f.open = bar.open;
    f.high = bar.high;
    f.low = bar.low;
    f.volume = bar.volume;
    f.previous = bar.close;
    if (last > 0) {
      f.previous = series.raw[last - 1].close;
      for (const CDivideRecord& split : series.splits) {
        if (split.date == f.date && split.ratio > 0) f.previous /= split.ratio;
      }
    }
  }
  if (!series.margin.empty()) {
    const CMarginRecord& entry = series.margin.back();
    f.hasMargin = true;
    f.marginDate = entry.date;
    f.marginBuy = entry.buy;
    f.marginSell = entry.sell;
    if (series.margin.size() > 1) {
      const CMarginRecord& before = series.margin[series.margin.size() - 2];
      f.marginBuyChange = entry.buy - before.buy;
      f.marginSellChange = entry.sell - before.sell;
    }
  }
  return f;
}

// The margin ratio as the pages show it. An issue without margin trading
// shows "---"; one that can only be bought on margin (margin status 1)
// shows 0.00, since its selling balance is not a standard-margin figure;
// one that can be sold as well (status 2) shows the latest buying balance
// over the selling balance, at least 0.01.
std::string MarginRatioText(const CBrandRecord& r, const QuoteFigures& f) {
  if (r.lendable == 0) return "---";
  if (r.lendable == 1) return "0.00";
  double ratio = f.marginSell > 0 ? f.marginBuy / f.marginSell : f.marginBuy;
  if (!(ratio >= 0.01)) ratio = 0.01;
  return FormatNumber(ratio, 2);
}

std::string OrDashes(bool known, const std::string& text) { return known ? text : "---"; }

// The industry cell: funds show their kind there; an issue without an
// industry link the next thing on the board, the date of its last bar.
std::string IndustryText(const CSimIssue& issue, const QuoteFigures& f) {
  const CBrandRecord& r = issue.record;
  if (r.kind == kKindEtf) return "ETF";
  if (r.kind == kKindReit) return "REIT";
  if (issue.noIndustry) return f.hasBar ? DateSlash(f.date) : "--:--";
  return r.industry;
}

// The market as the board names it.
std::string MarketText(const CSimIssue& issue) {
  return issue.autoMarket ? std::string("自動") : issue.record.market;
}

bool UsesOlderLayout(const std::string& code) {
  const char last = code.empty() ? 'A' : code.back();
  return last >= '0' && last <= '9' && (last - '0') % 2 == 1;
}

struct Reference {
  std::string marketValue;  // millions of yen
  std::string yield;
  std::string per;
  std::string pbr;
  std::string minimum;
};

Reference ReferenceOf(const CSimIssue& issue, const QuoteFigures& f) {
  const CBrandRecord& r = issue.record;
  Reference ref;
  const double price = f.close;
  ref.marketValue = f.hasBar ? FormatNumber(price * r.sharesOutstanding / 1e6, 0) : "---";
  ref.yield = f.hasBar && price > 0 ? FormatNumber(r.dividend / price * 100, 2) : "---";
  ref.per = f.hasBar && r.eps > 0 && !issue.loss ? FormatNumber(price / r.eps, 2) : "---";
  ref.pbr = f.hasBar && r.bps > 0 ? FormatNumber(price / r.bps, 2) : "---";
  ref.minimum = f.hasBar ? FormatNumber(price * (r.unit == 0 ? 1 : r.unit), 0) : "---";
  return ref;
}

std::string PriceTime(const QuoteFigures& f) {
  return f.tradedToday ? "15:30" : DateMonthDay(f.date);
}

// A figure: EPS and BPS with two decimals, "---" when there is none.
std::string PerShare(double value) { return value == 0 ? "---" : FormatNumber(value, 2); }

std::string Dividend(double value) {
  return value == std::round(value) ? FormatNumber(value, 0) : FormatNumber(value, 2);
}

// ---- The older layout ---------------------------------------------------------------

std::string OldItem(const std::string& title, const std::string& help, const std::string& value,
                    const std::string& suffix) {
  std::string html = "<div class=\"lineFi clearfix\"><dl><dt class=\"title\">" + title;
  if (!help.empty()) {
    html += "<a class=\"ymuiTip\" href=\"#\">?</a><span class=\"ymuiTipBody\">" + help + "</span>";
  }
  html += "</dt>\n<dd class=ymuiEditLink>\n  <strong>" + value + "</strong>" +
          (suffix.empty() ? "" : "&nbsp;" + suffix) + "\n</dd></dl></div>\n";
  return html;
}

std::string OlderLayout(const CSimIssue& issue, const QuoteFigures& f, bool altered) {
  const CBrandRecord& r = issue.record;
  const bool fund = r.kind == kKindEtf || r.kind == kKindReit;
  const char* shareWord = fund ? "口" : "株";
  const Reference ref = ReferenceOf(issue, f);
  std::string html = "<DIV id=stockinf>\n<!-- stocks main tab -->\n";
  html += "<div class='stockMainTab clearFix'>\n  <div class=\"stockMainTabName\">\n    " +
          Escape(MarketText(issue)) + "\n  </div>\n" + FinanceIssueTabs(r.code, "quote") +
          "</div>\n";
  html += "<div class=\"stocksDtl clearFix\">\n";
  html += std::string("<div class=\"") +
          (altered ? "stocksInfoBox clearFix" : "stocksInfo clearFix") + "\"><DL><DT>" + r.code +
          "</DT><dd class=\"category yjSb\"><a href=\"/stocks/industry/\">" +
          Escape(IndustryText(issue, f)) +
          "</a></dd></DL><div class=\"yjSb real\">リアルタイム株価</div></div>\n";
  html +=
      "<div class=\"forAddPortfolio\"><table class=\"stocksTable\" summary=\"株価詳細\">"
      "<tr><th class=\"symbol\"><h1>" +
      Escape(issue.ShownName()) +
      "</h1></th>"
      "<td class=\"stoksPrice\">" +
      OrDashes(f.hasBar, FormatPrice(f.close)) +
      "</td>"
      "<td class=\"change\"><span class=\"yjSt\">前日比</span><span class=\"" +
      std::string(f.close >= f.previous ? "icoUpGreen" : "icoDownRed") + " yjMSt\">" +
      OrDashes(f.hasBar, FormatSigned(f.close - f.previous, 0) + "（" +
                             FormatPercent(f.close, f.previous) + "）") +
      "</span></td></tr></table>\n";
  html += "<p class=\"time\">" + OrDashes(f.hasBar, PriceTime(f)) + "</p></div>\n</div>\n";
  html +=
      "<script type=\"text/javascript\">\n"
      "  var rows = document.getElementsByTagName('tr');\n"
      "  for (var i = 0; i < rows.length; i++) { if (rows[i].cells.length<2) continue; }\n"
      "</script>\n";

  html += "<div class=\"innerDate\">\n";
  html += OldItem("前日終値", "", OrDashes(f.hasBar, FormatPrice(f.previous)), "");
  const bool day = f.hasBar && f.tradedToday;
  html += OldItem("始値", "", OrDashes(day, FormatPrice(f.open)), "");
  html += OldItem("高値", "", OrDashes(day, FormatPrice(f.high)), "");
  html += OldItem("安値", "", OrDashes(day, FormatPrice(f.low)), "");
  html += OldItem("出来高", "", day ? FormatNumber(f.volume, 0) : "0", shareWord);
  html += OldItem("売買代金", "", day ? FormatNumber(f.volume * f.close / 1000, 0) : "0", "千円");
  html += "</div>\n";

  html += "<div class=\"chartFinance\">\n<h2>参考指標</h2>\n";
  html += OldItem("時価総額", "株価×発行済株式数", ref.marketValue, "百万円");
  html += OldItem(fund ? "発行済口数" : "発行済株式数",
                  "会社が発行している株式の総数で、銘柄の規模を示します",
                  FormatNumber(r.sharesOutstanding, 0), shareWord);
  html += OldItem("配当利回り（会社予想）", "株価に対する年間配当の割合", ref.yield, "%");
  html += OldItem("1株配当（会社予想）", "1株あたりの年間配当金", Dividend(r.dividend), "");
  html += OldItem("PER（会社予想）", "株価が1株あたり利益の何倍かを示します", ref.per, "倍");
  html += OldItem("PBR（実績）", "株価が1株あたり純資産の何倍かを示します", ref.pbr, "倍");
  html += OldItem("EPS（会社予想）", "1株あたり利益。株価純資産倍率とあわせて割安度を測ります",
                  PerShare(issue.ShownEps()), "");
  html += OldItem("BPS（実績）", "1株あたり純資産。1株利益とあわせて企業価値を測ります",
                  PerShare(r.bps), "");
  html += OldItem("最低購入代金", "株価×単元株数で計算します", ref.minimum, "");
  html += OldItem(fund ? "売買単位" : "単元株数",
                  "売買の単位です。1単元あたりの値段は株価×単元株数です", FormatNumber(r.unit, 0),
                  shareWord);
  html += "</div>\n";

  html += "<div class=\"ymuiDotLine\">\n<h2>信用取引</h2>\n";
  const bool margin = f.hasMargin && r.lendable != 0;
  html += OldItem("信用買残", "", OrDashes(margin, FormatNumber(f.marginBuy, 0)), shareWord);
  html += OldItem("前週比", "", OrDashes(margin, FormatSigned(f.marginBuyChange, 0)), shareWord);
  html += OldItem("信用売残", "", OrDashes(margin, FormatNumber(f.marginSell, 0)), shareWord);
  html += OldItem("前週比", "", OrDashes(margin, FormatSigned(f.marginSellChange, 0)), shareWord);
  html += OldItem("信用倍率", "信用買残の売残に対する割合", MarginRatioText(r, f), "倍");
  if (margin) {
    html += "<p class=\"date\">" + DateKanji(f.marginDate) + "時点</p>\n";
  }
  html += "</div>\n</DIV>\n";
  return html;
}

// ---- The newer layout -----------------------------------------------------------------

constexpr const char kLongValue[] = "StyledNumber__value__3rXW DataListItem__value__11kV";
constexpr const char kShortValue[] = "StyledNumber__value__3rXW";

// One figure of a data list. With `tooltip` the name is followed by a
// help mark, a text of its own between the name and the figure.
std::string NewItem(const std::string& name, bool tooltip, const std::string& value,
                    const std::string& suffix, const char* valueClass = kLongValue) {
  std::string html =
      "<li class=\"DataListItem__3Mpy\"><dl class=\"DataListItem__title__1-cZ\">"
      "<dt class=\"DataListItem__name__3RQJ\">" +
      name;
  if (tooltip) html += "<span class=\"Tooltip__icon__2hV8\">?</span>";
  html +=
      "</dt><dd class=\"DataListItem__data__3uyc\"><span class=\"StyledNumber__1fof\">"
      "<span class=\"StyledNumber__item__1-yu\"><span class=\"" +
      std::string(valueClass) + "\">" + value + "</span>";
  if (!suffix.empty()) {
    html += "<span class=StyledNumber__suffix__2SD5>&thinsp;" + suffix + "</span>";
  }
  return html + "</span></span></dd></dl></li>\n";
}

std::string NewerLayout(const CSimIssue& issue, const QuoteFigures& f, bool altered) {
  const CBrandRecord& r = issue.record;
  const bool fund = r.kind == kKindEtf || r.kind == kKindReit;
  const char* shareWord = fund ? "口" : "株";
  const Reference ref = ReferenceOf(issue, f);
  std::string html = "<div id=\"contents-body\">\n";
  html += "<section class=\"PriceBoard__1bL1\">\n<div class=\"PriceBoardMenu__1qca\">";
  // Stocks listed on a market with sections get the market switch; funds
  // a plain label.
  if (r.kind == kKindStock) {
    html += "<button type=button class=\"PriceBoardMenu__toggle__4C2X\">\n      " +
            Escape(MarketText(issue)) + "\n      <svg class='icon' viewBox=\"0 0 8 8\"></svg>\n    </button>";
  } else {
    html += "<span class='PriceBoardMenu__label__3sg2'>" + Escape(MarketText(issue)) + "</span>";
  }
  html +=
      "</div>\n<div class=\"PriceBoardMain__1liM\"><header class=\"PriceBoardMain__header__2D5k\">";
  html += std::string("<h2 class=\"") +
          (altered ? "PriceBoardMain__name__1Kx4" : "PriceBoardMain__name__6uDh") + "\">" +
          Escape(issue.ShownName()) + "</h2>";
  html +=
      "<div class=\"PriceBoardMain__supplementTop__3Dn3\"><span "
      "class=\"PriceBoardMain__code__2wso\">" +
      r.code +
      "</span><a class=\"PriceBoardMain__industryLink__3vEg\" href=\"/stocks/industry/\">" +
      Escape(IndustryText(issue, f)) + "</a></div></header>\n<!-- /PriceBoardMain header -->\n";
  html +=
      "<div class=\"PriceBoardMain__priceInformation__78Tl\"><span class=\"StyledNumber__1fof\">"
      "<span class=\"" +
      std::string(kShortValue) + "\">" + OrDashes(f.hasBar, FormatPrice(f.close)) +
      "</span></span>"
      "<dl class=\"PriceChangeLabel__1tnY\"><dt>前日比</dt><dd>" +
      OrDashes(f.hasBar, FormatSigned(f.close - f.previous, 0) + "(" +
                             FormatPercent(f.close, f.previous) + ")") +
      "</dd></dl><time class=\"PriceBoardMain__time__5Zx2\">" + OrDashes(f.hasBar, PriceTime(f)) +
      "</time></div>\n</div>\n</section>\n";
  html += FinanceIssueTabs(r.code, "quote");

  const bool day = f.hasBar && f.tradedToday;
  html +=
      "<section class=\"StocksDetail__3oIm\">\n<h2>詳細情報</h2>\n<ul class=\"DataList__1bYV\">\n";
  html += NewItem("前日終値", false, OrDashes(f.hasBar, FormatPrice(f.previous)), "円");
  html += NewItem("始値", false, OrDashes(day, FormatPrice(f.open)), "円");
  html += NewItem("高値", false, OrDashes(day, FormatPrice(f.high)), "円");
  html += NewItem("安値", false, OrDashes(day, FormatPrice(f.low)), "円");
  html += NewItem("出来高", false, day ? FormatNumber(f.volume, 0) : "0", shareWord);
  html +=
      NewItem("売買代金", false, day ? FormatNumber(f.volume * f.close / 1000, 0) : "0", "千円");
  html += "</ul>\n</section>\n";

  html +=
      "<section class=\"StocksReference__2rT5\">\n<h2>参考指標</h2>\n<ul "
      "class=\"DataList__1bYV\">\n";
  html += NewItem("時価総額", true, ref.marketValue, "百万円");
  if (r.kind == kKindReit) {
    // The help mark stands between the name and the figure.
    html += NewItem("発行済投資口数", true, FormatNumber(r.sharesOutstanding, 0), "口");
  } else {
    html += NewItem(fund ? "発行済株式数（口数）" : "発行済株式数", false,
                    FormatNumber(r.sharesOutstanding, 0), shareWord);
  }
  html += NewItem("配当利回り（会社予想）", true, ref.yield, "%");
  html += NewItem("1株配当（会社予想）", true, Dividend(r.dividend), "円");
  html += NewItem("PER（会社予想）", true, ref.per, "倍");
  html += NewItem("PBR（実績）", true, ref.pbr, "倍");
  html += NewItem("EPS（会社予想）", true, PerShare(issue.ShownEps()), "円");
  html += NewItem("BPS（実績）", true, PerShare(r.bps), "円");
  html += NewItem("最低購入代金", true, ref.minimum, "円");
  if (fund) {
    html += NewItem("売買単位", true, FormatNumber(r.unit, 0), shareWord);
  } else {
    html += NewItem("単元株数", false, FormatNumber(r.unit, 0), shareWord);
  }
  html += "</ul>\n</section>\n";

  const bool margin = f.hasMargin && r.lendable != 0;
  html +=
      "<section class=\"MarginTransactionInformation__1kka\">\n<h2>信用取引情報</h2>\n"
      "<ul class=\"DataList__1bYV\">\n";
  html += NewItem("信用買残", false, OrDashes(margin, FormatNumber(f.marginBuy, 0)), shareWord,
                  kShortValue);
  html += NewItem("前週比", false, OrDashes(margin, FormatSigned(f.marginBuyChange, 0)), shareWord,
                  kShortValue);
  html += NewItem("信用売残", false, OrDashes(margin, FormatNumber(f.marginSell, 0)), shareWord,
                  kShortValue);
  html += NewItem("前週比", false, OrDashes(margin, FormatSigned(f.marginSellChange, 0)), shareWord,
                  kShortValue);
  html += NewItem("信用倍率", false, MarginRatioText(r, f), "倍", kShortValue);
  html += "</ul>\n";
  if (margin)
    html += "<p class=\"MarginTransactionInformation__date__1zXa\">" + DateMonthDay(f.marginDate) +
            "</p>\n";
  html += "</section>\n</div>\n";
  return html;
}

// The portal's answer to a code it has no issue for: an ordinary page.
void SendNoSuchIssue(CSimResponse& response, const std::string& code) {
  std::string html = FinancePageStart("銘柄が見つかりません");
  html +=
      "<div class=\"ErrorPage__4kLm\">\n<h1>指定されたページまたは銘柄は存在しません。</h1>\n"
      "<p>コード「" +
      Escape(code) +
      "」に該当する銘柄は見つかりませんでした。<br />\n"
      "上場廃止となった銘柄や、コードの誤りがないかご確認ください。</p>\n"
      "<p><a href=\"/search/\">銘柄を検索する</a>&nbsp;|&nbsp;<a href=\"/\">トップへ</a></p>\n"
      "</div>\n";
  html += FinancePageEnd("{\"error\": {\"status\": 404}}");
  SendPage(response, WithLowerCaseDoctype(html), 200);
}

}  // namespace

bool RenderQuotePage(const CSimMarket& market, const CSimRequest& request, CSimResponse& response,
                     const std::string& code) {
  const CSimIssue* issue = FinanceIssue(market, code);
  const auto series = issue != nullptr ? market.Series(code) : nullptr;
  if (issue == nullptr || !series) {
    SendNoSuchIssue(response, code);
    return true;
  }
  const CBrandRecord& r = issue->record;
  const QuoteFigures figures = FiguresOf(market, *series);
  std::string html = FinancePageStart(issue->ShownName() + "【" + r.code + "】：株価・株式情報");
  html += UsesOlderLayout(code) ? OlderLayout(*issue, figures, request.alteredStructure)
                                : NewerLayout(*issue, figures, request.alteredStructure);
  html += FinancePageEnd(StringFormat(
      "{\"mainStocksPriceBoard\": {\"code\": \"%s\", \"price\": \"%s\", \"layout\": \"%s\"}}",
      r.code.c_str(), figures.hasBar ? FormatPrice(figures.close).c_str() : "",
      UsesOlderLayout(code) ? "classic" : "modern"));
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}
