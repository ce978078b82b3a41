// The Nikkei 225 future's pages: the futures data site's daily table
// (every day of the market, newest first; each row headed by its date in
// a header cell, then the day session's and the night session's four
// prices and the volume) and the broker's quote page of the front
// contract.
//
// With the `shortRows` request the data page breaks off inside its oldest
// row; with `alteredStructure` its rows are headed by the day of the week.
//
// The market holds one bar a day; the night session is made from it: it
// opens at the day's close and closes at the next day's open (the last
// night at the close), and reaches a few ticks beyond both.

#include <algorithm>

#include "support/text.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

const char kFutureCode[] = "1051";
constexpr double kTick = 10;

struct Session {
  double open = 0, high = 0, low = 0, close = 0;
};

Session NightOf(const CChart& bars, size_t index) {
  const CDayRecord& day = bars[index];
  Session night;
  night.open = day.close;
  night.close = index + 1 < bars.size() ? bars[index + 1].open : day.close;
  // One to three ticks, varying with the date.
  const double reach = kTick * static_cast<double>(1 + day.DateNumber() % 3);
  night.high = std::max(night.open, night.close) + reach;
  night.low = std::max(kTick, std::min(night.open, night.close) - reach);
  return night;
}

std::string Price(double value) { return FormatNumber(value, 0); }

std::string Weekday(const CDate& date) {
  static const char* const kNames[] = {"日", "月", "火", "水", "木", "金", "土"};
  const int w = date.Weekday();
  return w >= 0 && w < 7 ? kNames[w] : "-";
}

// The front contract on `date`: the nearest of March, June, September
// and December whose last trading day is not past.
std::string ContractMonth(const CDate& date) {
  CDate month(date.year, date.month, 1);
  while (month.month % 3 != 0 || (month.month == date.month && month.year == date.year &&
                                  date.day > month.FuturesLastTradingDay())) {
    month.AddMonths(1);
  }
  return StringFormat("%u年%u月限", month.year, month.month);
}

}  // namespace

bool RenderFuturesDataPage(const CSimMarket& market, const CSimRequest& request,
                           CSimResponse& response) {
  const auto series = market.Series(kFutureCode);
  const CChart empty;
  const CChart& bars = series ? series->raw : empty;
  const bool altered = request.alteredStructure;

  std::string html = PageStart("日経225先物 日足データ | 先物データ室", "", "data");
  html +=
      "<div id=\"header\"><a href=\"/\">先物データ室</a>"
      "<ul class=\"menu\"><li><a href=\"/data/\">日足データ</a></li>"
      "<li><a href=\"/sq/\">SQ値</a></li><li><a "
      "href=\"/calendar/\">取引カレンダー</a></li></ul></div>\n";
  html +=
      "<div id=\"main\">\n<h1>日経225先物 日足データ</h1>\n"
      "<p>日中取引と夜間取引の四本値です。</p>\n";
  html +=
      "<table class=\"data\">\n<thead>\n<tr><td rowspan=\"2\">日付</td><td "
      "colspan=\"4\">日中取引</td>"
      "<td colspan=\"4\">夜間取引</td><td rowspan=\"2\">出来高</td></tr>\n"
      "<tr><td>始値</td><td>高値</td><td>安値</td><td>終値</td>"
      "<td>始値</td><td>高値</td><td>安値</td><td>終値</td></tr>\n</thead>\n<tbody>\n";
  for (size_t i = bars.size(); i-- > 0;) {
    const CDayRecord& day = bars[i];
    const Session night = NightOf(bars, i);
    // The changed structure heads a row with the day of the week and moves
    // the date into the first ordinary cell.
    html += altered ? "<tr><th class=\"week\">(" + Weekday(day.Date()) + ")</th><td>" +
                          DateSlash(day.Date()) + "</td>"
                    : "<tr><th>" + DateSlash(day.Date()) + "</th>";
    if (request.shortRows && i == 0) {
      // The page breaks off inside its oldest row.
      html += "<TD>" + Price(day.open) + "</TD><TD>" + Price(day.high) + "</TD>";
      SendPage(response, WithLowerCaseDoctype(html));
      return true;
    }
    html += "<TD>" + Price(day.open) + "</TD><TD>" + Price(day.high) + "</TD><TD>" +
            Price(day.low) + "</TD><TD>" + Price(day.close) + "</TD>\n";
    html += "<td>" + Price(night.open) + "</td><td>" + Price(night.high) + "</td><td>" +
            Price(night.low) + "</td><td>" + Price(night.close) + "</td>\n";
    html += "<td>" + FormatNumber(day.volume, 0) + "</td></tr>\n";
  }
  html += "</tbody>\n</table>\n</div>\n";
  html += "<div id=\"footer\">(C) Futures Data Room</div>\n";
  html += PageEnd(
      "<script src=\"/js/table.js\"></script>\n"
      "<script>var r = document.querySelectorAll(\"tbody tr\");\n"
      "for (var i = 0; i < r.length && i<5; i++) { r[i].className = \"recent\"; }</script>\n");
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}

bool RenderBrokerFuturesPage(const CSimMarket& market, const CSimRequest& request,
                             CSimResponse& response) {
  const auto series = market.Series(kFutureCode);
  const bool has = series && !series->raw.empty();
  const CDayRecord last = has ? series->raw.back() : CDayRecord();
  const double previous =
      has && series->raw.size() > 1 ? series->raw[series->raw.size() - 2].close : last.close;
  auto figure = [&](double value) { return has ? Price(value) : std::string("---"); };
  const std::string contract =
      "日経225先物 " + ContractMonth(has ? last.Date() : market.LastDate());

  std::string html = PageStart(contract + " | 先物・オプション | ブローカー証券", "", "future");
  html +=
      "<header id=\"header\"><div class=\"logo\"><a href=\"/\">ブローカー証券</a></div>"
      "<nav><ul><li><a href=\"/stock/\">国内株式</a></li><li><a "
      "href=\"/future/\">先物・オプション</a></li>"
      "<li><a href=\"/fx/\">FX</a></li></ul></nav></header>\n";
  html += "<main id=\"main\">\n<h1>" + contract + "</h1>\n";
  html +=
      "<p class=\"date\">" + (has ? DateSlash(last.Date()) : std::string("---")) + " 15:15</p>\n";
  html += "<table class=\"quote\">\n";
  html += std::string("<tr><th>") + (request.alteredStructure ? "直近値" : "現在値") +
          "</th><td class=\"price\">" + figure(last.close) + "</td></tr>\n";
  html += "<tr><th>前日比</th><td>" +
          (has ? FormatSigned(last.close - previous, 0) + "(" +
                     FormatPercent(last.close, previous) + ")"
               : std::string("---")) +
          "</td></tr>\n";
  html += "<tr><th>始値</th><td>" + figure(last.open) + "</td></tr>\n";
  html += "<tr><th>高値</th><td>" + figure(last.high) + "</td></tr>\n";
  html += "<tr><th>安値</th><td>" + figure(last.low) + "</td></tr>\n";
  html += "<tr><th>出来高</th><td>" + (has ? FormatNumber(last.volume, 0) : std::string("---")) +
          "</td></tr>\n";
  html += "<tr><th>前日清算値</th><td>" + figure(previous) + "</td></tr>\n";
  html += "</table>\n<p class=\"note\">価格は20分遅れです。</p>\n</main>\n";
  html += "<footer id=\"footer\">(C) Broker Securities</footer>\n";
  html += PageEnd("<script src=\"/js/future.js\"></script>\n");
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}
