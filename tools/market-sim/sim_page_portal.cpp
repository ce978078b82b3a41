// The index and currency portal: for each built-in index and currency
// pair with portal pages, a detail page (the latest figures) and a
// history (three months of daily rows, newest first, each row headed by
// its date in a header cell). An index's history is a tab of its detail
// page ("contents=2"); a currency pair's history is the table body that
// the detail page's script loads ("historicalTbody.aspx"), sent as that
// fragment alone. The pages are found by the query fields of the page
// addresses the built-in issue table holds, in any order.

#include <map>
#include <vector>

#include "db/private_brand.h"
#include "support/text.h"
#include "tools/market-sim/sim_page_html.h"
#include "tools/market-sim/sim_page_renderers.h"

namespace {

const char kSiteName[] = "マーケットポータル";

using Fields = std::map<std::string, std::string>;

// Splits "path?a=1&b=2" into the path and its fields.
std::string SplitAddress(const std::string& address, Fields& fields) {
  const size_t question = address.find('?');
  if (question == std::string::npos) return address;
  for (const std::string& pair : StringSplit(address.substr(question + 1), "&")) {
    const size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      fields[pair] = "";
    } else {
      fields[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
  }
  return address.substr(0, question);
}

// True when the request is for `path` and carries every field of
// `fields` (but `ignored`) with the same value.
bool Matches(const CSimRequest& request, const std::string& path, const Fields& fields,
             const std::string& ignored) {
  if (request.path != path) return false;
  for (const auto& [name, value] : fields) {
    if (name == ignored) continue;
    if (!HasParam(request, name) || Param(request, name) != value) return false;
  }
  return true;
}

enum class PageKind { kDetail, kHistory };

// The built-in issue whose detail or history page the request asks for.
bool FindPage(const CSimRequest& request, CPrivateBrand::Entry& found, PageKind& kind) {
  CPrivateBrand::Map entries;
  CPrivateBrand::Instance().CopyTo(entries);
  for (const auto& [code, entry] : entries) {
    if (entry.historyPage.empty()) continue;
    Fields history;
    const std::string historyPath = SplitAddress(entry.historyPage, history);
    if (Matches(request, historyPath, history, "pnum")) {
      found = entry;
      kind = PageKind::kHistory;
      return true;
    }
    Fields detail;
    const std::string detailPath = SplitAddress(entry.detailPage, detail);
    if (Matches(request, detailPath, detail, "") && !HasParam(request, "contents")) {
      found = entry;
      kind = PageKind::kDetail;
      return true;
    }
  }
  return false;
}

int Decimals(const CPrivateBrand::Entry& entry) { return entry.kind == kKindCurrency ? 3 : 2; }

// How far back a history reaches: "1M", "3M" (the default), "6M" or "1Y".
int32_t MonthsOf(const std::string& period) {
  if (period == "1M") return 1;
  if (period == "6M") return 6;
  if (period == "1Y") return 12;
  return 3;
}

std::string HistoryRows(const CChart& bars, int32_t months, int decimals, bool altered) {
  std::string html;
  if (bars.empty()) return html;
  CDate start = bars.back().Date();
  start.AddMonths(-months);
  for (auto it = bars.rbegin(); it != bars.rend() && start < it->Date(); ++it) {
    // The changed structure heads a row with an ordinary cell.
    html += altered ? "<TR>\n<td class=\"date\">" : "<TR>\n<th>";
    html += DateSlash(it->Date());
    html += altered ? "</td>\n" : "</th>\n";
    html += "<TD>" + FormatNumber(it->open, decimals) + "</TD>\n<TD>" +
            FormatNumber(it->high, decimals) + "</TD>\n<TD>" + FormatNumber(it->low, decimals) +
            "</TD>\n<TD>" + FormatNumber(it->close, decimals) + "</TD>\n</TR>\n";
  }
  return html;
}

std::string Header(const CPrivateBrand::Entry& entry) {
  std::string html = "<div id=\"header\"><div class=\"logo\"><a href=\"/\">" +
                     std::string(kSiteName) +
                     "</a></div>\n<ul class=\"gnav\">"
                     "<li><a href=\"/contents/market.aspx\">マーケット</a></li>"
                     "<li><a href=\"/contents/fx.aspx\">為替&amp;FX</a></li>"
                     "<li><a href=\"/contents/news.aspx\">ニュース</a></li></ul></div>\n";
  html += "<div class=\"marketDetail\">\n<h1>" + Escape(entry.name) + "</h1>\n";
  html += "<ul class=\"tabs\"><li><a href=\"" + entry.detailPage + "\">概要</a></li>";
  if (entry.kind == kKindIndex) {
    html += "<li><a href=\"" + entry.historyPage + "\">時系列</a></li>";
  }
  return html + "</ul>\n";
}

std::string Footer(const std::string& script) {
  return "</div>\n<div id=\"footer\"><p>データは遅延しています。</p>"
         "<p class=\"copy\">(C) Market Portal</p></div>\n" +
         PageEnd(script);
}

void DetailPage(const CPrivateBrand::Entry& entry, const CChart& bars, bool altered,
                CSimResponse& response) {
  const int d = Decimals(entry);
  const bool has = !bars.empty();
  const CDayRecord last = has ? bars.back() : CDayRecord();
  const double previous = bars.size() > 1 ? bars[bars.size() - 2].close : last.close;
  auto figure = [&](double value) { return has ? FormatNumber(value, d) : std::string("---"); };
  double yearHigh = last.high, yearLow = last.low;
  for (const CDayRecord& bar : bars) {
    if (bar.Date().year != last.Date().year) continue;
    if (bar.high > yearHigh) yearHigh = bar.high;
    if (bar.low < yearLow) yearLow = bar.low;
  }

  std::string html = PageStart(entry.name + " - " + kSiteName, "", "detail");
  html += Header(entry);
  html += "<div class=\"priceBox\"><dl class=\"current\"><dt>";
  html += altered ? "直近値" : "現在値";
  html += "</dt><dd class=\"price\">" + figure(last.close) + "</dd></dl>";
  html += "<dl class=\"change\"><dt>前日比</dt><dd>" +
          (has ? FormatSigned(last.close - previous, d) + "（" +
                     FormatPercent(last.close, previous) + "）"
               : std::string("---")) +
          "</dd></dl>";
  html += "<p class=\"time\">" + (has ? DateSlash(last.Date()) : std::string("---")) +
          (entry.kind == kKindCurrency ? " 終値" : " 大引け") + "</p></div>\n";
  html += "<table class=\"detailTable\">\n";
  html += "<tr><th>始値</th><td>" + figure(last.open) + "</td><th>前日終値</th><td>" +
          (has ? FormatNumber(previous, d) : std::string("---")) + "</td></tr>\n";
  html += "<tr><th>高値</th><td>" + figure(last.high) + "</td><th>年初来高値</th><td>" +
          figure(yearHigh) + "</td></tr>\n";
  html += "<tr><th>安値</th><td>" + figure(last.low) + "</td><th>年初来安値</th><td>" +
          figure(yearLow) + "</td></tr>\n";
  if (entry.kind == kKindCurrency) {
    // The currency form quotes both sides around the close.
    const double spread = d == 3 ? 0.003 : 0.01;
    html += "<tr><th>売値(Bid)</th><td>" + figure(last.close) + "</td><th>買値(Ask)</th><td>" +
            figure(last.close + spread) + "</td></tr>\n";
  }
  html += "</table>\n";
  html +=
      Footer(StringFormat("<script src=\"/js/detail.js\"></script>\n"
                          "<script>var marketCode = \"%d\";</script>\n",
                          entry.code));
  SendPage(response, WithLowerCaseDoctype(html));
}

}  // namespace

bool RenderPortalPage(const CSimMarket& market, const CSimRequest& request,
                      CSimResponse& response) {
  CPrivateBrand::Entry entry;
  PageKind kind = PageKind::kDetail;
  if (!FindPage(request, entry, kind)) return false;
  const auto series = market.Series(std::to_string(entry.code));
  const CChart empty;
  const CChart& bars = series ? series->raw : empty;
  const bool altered = request.alteredStructure;

  if (kind == PageKind::kDetail) {
    DetailPage(entry, bars, altered, response);
    return true;
  }
  const int32_t months = MonthsOf(Param(request, "pnum"));
  const std::string rows = HistoryRows(bars, months, Decimals(entry), altered);
  if (entry.kind == kKindCurrency) {
    SendPage(response, "<tbody id=\"historicalTbody\">\n" + rows + "</tbody>\n");
    return true;
  }
  std::string html = PageStart(entry.name + " 時系列 - " + kSiteName, "", "history");
  html += Header(entry);
  // Without rows (an index with no trading day in the period) the page
  // says so in place of the table.
  if (rows.empty()) {
    html += "<p class=\"nodata\">該当するデータはありません。</p>\n";
  } else {
    html +=
        "<table class=\"historical\" id=\"historical\">\n<thead><tr><td>日付</td><td>始値</td>"
        "<td>高値</td><td>安値</td><td>終値</td></tr></thead>\n<tbody>\n" +
        rows + "</tbody>\n</table>\n";
  }
  html += Footer(
      "<script src=\"/js/history.js\"></script>\n"
      "<script>var t = document.getElementById(\"historical\");\n"
      "if (t && t.rows.length > 1) { for (var i = 1; i < t.rows.length; i += 2) "
      "t.rows[i].className = \"odd\"; }</script>\n");
  SendPage(response, WithLowerCaseDoctype(html));
  return true;
}
