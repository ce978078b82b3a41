#include "tools/market-sim/sim_page_html.h"

#include <cmath>
#include <cstdio>

#include "support/cp932.h"
#include "support/text.h"

std::string FormatNumber(double value, int decimals) {
  if (!std::isfinite(value)) return "---";
  char digits[64];
  std::snprintf(digits, sizeof(digits), "%.*f", decimals, std::fabs(value));
  const std::string text = digits;
  const size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  std::string out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += ',';
    out += whole[i];
  }
  if (point != std::string::npos) out += text.substr(point);
  // No "-0" for a value that rounds to zero.
  bool zero = true;
  for (char c : out) zero &= c == '0' || c == ',' || c == '.';
  return value < 0 && !zero ? "-" + out : out;
}

std::string FormatSigned(double value, int decimals) {
  const std::string text = FormatNumber(value, decimals);
  bool zero = true;
  for (char c : text) zero &= c == '0' || c == ',' || c == '.';
  return value > 0 && !zero ? "+" + text : text;
}

std::string FormatPrice(double value) {
  if (std::fabs(value - std::round(value)) < 1e-9) return FormatNumber(value, 0);
  if (std::fabs(value * 10 - std::round(value * 10)) < 1e-7) {
    return FormatNumber(value, 1);
  }
  return FormatNumber(value, 2);
}

std::string FormatPercent(double value, double previous) {
  if (previous == 0) return "0.00%";
  return FormatSigned((value - previous) / previous * 100, 2) + "%";
}

std::string DateSlash(const CDate& date) {
  return StringFormat("%04u/%02u/%02u", date.year, date.month, date.day);
}

std::string DateDash(const CDate& date) { return date.Format(8); }

std::string DateKanji(const CDate& date) {
  return StringFormat("%u年%u月%u日", date.year, date.month, date.day);
}

std::string DateMonthDay(const CDate& date) {
  return StringFormat("%02u/%02u", date.month, date.day);
}

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Param(const CSimRequest& request, const std::string& name) {
  const auto it = request.params.find(name);
  return it == request.params.end() ? std::string() : it->second;
}

bool HasParam(const CSimRequest& request, const std::string& name) {
  return request.params.count(name) != 0;
}

bool ReadCount(const std::string& text, int32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  int32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  value = n;
  return true;
}

bool ReadDateNumber(const std::string& text, CDate& date) {
  int32_t number = 0;
  if (text.size() != 8 || !ReadCount(text, number)) return false;
  CDate read;
  if (!read.FromNumber(static_cast<uint32_t>(number))) return false;
  // FromNumber takes 2024/2/31; a page asks for real dates only.
  if (!(read.Normalized() == read)) return false;
  date = read;
  return true;
}

int32_t LastBarOnOrBefore(const CChart& chart, const CDate& date) {
  int32_t index = -1;
  if (!chart.Find(date.ToNumber(), index, kFindExactOrEarlier)) return -1;
  return index;
}

std::string PageStart(const std::string& title, const std::string& headExtra,
                      const std::string& bodyClass) {
  std::string page;
  page += "<!DOCTYPE html>\n";
  page += "<html lang=\"ja\">\n<head>\n";
  page += "<meta charset=\"UTF-8\">\n";
  page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  page += "<title>" + Escape(title) + "</title>\n";
  page += "<link rel=\"stylesheet\" href=\"/static/css/common.css\">\n";
  page += headExtra;
  page += "</head>\n<body class=\"" + bodyClass + "\">\n";
  return page;
}

std::string PageEnd(const std::string& scripts) { return scripts + "</body>\n</html>\n"; }

std::string WithLowerCaseDoctype(std::string page) {
  static const std::string kUpper = "<!DOCTYPE html>";
  if (page.compare(0, kUpper.size(), kUpper) == 0) page.replace(0, kUpper.size(), "<!doctype html>");
  return page;
}

void SendPage(CSimResponse& response, const std::string& cp932Page, int status) {
  response.status = status;
  response.contentType = "text/html; charset=UTF-8";
  response.body = Utf8FromCp932(cp932Page);
}

void SendNotFound(CSimResponse& response, const std::string& siteName) {
  std::string page = PageStart("ページが見つかりません - " + siteName, "", "error");
  page += "<div id=\"header\"><a href=\"/\">" + Escape(siteName) + "</a></div>\n";
  page += "<div id=\"main\">\n<h1>お探しのページは見つかりませんでした</h1>\n";
  page += "<p>指定されたページは削除されたか、URLが変更された可能性があります。</p>\n";
  page += "<p><a href=\"/\">トップページへ戻る</a></p>\n</div>\n";
  SendPage(response, page + PageEnd(""), 404);
}
