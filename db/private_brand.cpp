#include "db/private_brand.h"

#include <limits>
#include <regex>

#include "db/brand_record.h"

namespace {

struct ConstantEntry {
  std::int32_t code;
  std::int32_t kind;
  const char* name;
  std::int64_t sourceNumber;
  const char* historyPage;
  const char* detailPage;
};

// The built-in issues in code order; the entry of code 0 ends the table.
const ConstantEntry kEntries[] = {
    {1001, kKindIndex, "日経平均", 100000018,
     "/contents/marketdetail.aspx?&cntcode=JP&skubun=0&stkcode=54&exctype=02&contents=2",
     "/contents/marketdetail.aspx?&cntcode=JP&skubun=0&stkcode=54&exctype=02"},
    {1002, kKindIndex, "TOPIX", 100,
     "/contents/marketdetail.aspx?&cntcode=JP&skubun=0&stkcode=0000&exctype=01&contents=2",
     "/contents/marketdetail.aspx?&cntcode=JP&skubun=0&stkcode=0000&exctype=01"},
    {1003, kKindIndex, "JASDAQ指数", 900,
     "/contents/marketdetail.aspx?&cntcode=JP&skubun=0&stkcode=0091&exctype=01&contents=2",
     "/contents/marketdetail.aspx?&cntcode=JP&skubun=0&stkcode=0091&exctype=01"},
    {1004, kKindIndex, "NYダウ", 0, "", ""},
    {1051, kKindFutures, "日経225先物", 0, "", ""},
    {1101, kKindCurrency, "米ドル／円", 551,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=USDJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=USDJPY&exctype=000"},
    {1102, kKindCurrency, "ユーロ／円", 552,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=EURJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=EURJPY&exctype=000"},
    {1103, kKindCurrency, "英ポンド／円", 555,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=GBPJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=GBPJPY&exctype=000"},
    {1104, kKindCurrency, "豪ドル／円", 554,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=AUDJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=AUDJPY&exctype=000"},
    {1105, kKindCurrency, "NZドル／円", 556,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=NZDJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=NZDJPY&exctype=000"},
    {1106, kKindCurrency, "カナダドル／円", 557,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=CADJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=CADJPY&exctype=000"},
    {1107, kKindCurrency, "南アランド／円", 592,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=ZARJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=ZARJPY&exctype=000"},
    {1108, kKindCurrency, "スイスフラン／円", 558,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=CHFJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=CHFJPY&exctype=000"},
    {1109, kKindCurrency, "香港ドル／円", 559,
     "/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=HKDJPY&exctype=000&pnum=3M",
     "/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=HKDJPY&exctype=000"},
    {0, kKindNone, "", 0, "", ""},
};

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

}  // namespace

CPrivateBrand::CPrivateBrand() {
  for (const ConstantEntry* constant = kEntries; constant->code > 0;
       ++constant) {
    Entry& entry = entries_[constant->code];
    entry.code = constant->code;
    entry.kind = constant->kind;
    entry.name = constant->name;
    entry.sourceNumber = constant->sourceNumber;
    entry.historyPage = constant->historyPage;
    entry.detailPage = constant->detailPage;
  }
}

const CPrivateBrand& CPrivateBrand::Instance() {
  // Initialised once, safely against concurrent first calls.
  static CPrivateBrand instance;
  return instance;
}

void CPrivateBrand::CopyTo(Map& out) const { out = entries_; }

CPrivateBrand::Entry CPrivateBrand::Find(const std::string& code) const {
  std::int64_t value = DecimalValue(code);
  // Checked before narrowing, so that a value beyond 32 bits cannot wrap
  // onto a code of the table.
  if (value <= 0 || value > std::numeric_limits<std::int32_t>::max()) {
    return Entry();
  }
  auto it = entries_.find(static_cast<std::int32_t>(value));
  return it == entries_.end() ? Entry() : it->second;
}

std::string CPrivateBrand::KindName(std::int32_t kind) {
  return ::KindName(kind);
}

bool CPrivateBrand::IsNumericCode(const std::string& code) {
  static const std::regex kNumeric("^\\d+$", std::regex::ECMAScript);
  return std::regex_match(code, kNumeric);
}

bool CPrivateBrand::IsStockCode(const std::string& code) {
  static const std::regex kStock("^\\d{3,4}[A-Z]?$", std::regex::ECMAScript);
  return std::regex_match(code, kStock);
}

bool CPrivateBrand::IsCurrencyCode(const std::string& code) {
  if (code.size() != 4) return false;
  std::int64_t value = DecimalValue(code);
  return value >= 1100 && value <= 1199;
}

bool CPrivateBrand::IsPrivateCode(const std::string& code) {
  if (!IsNumericCode(code)) return false;
  std::int64_t value = DecimalValue(code);
  return value < 1300 || value > 9999;
}

bool CPrivateBrand::HasPortalPage(const std::string& code) {
  if (IsCurrencyCode(code)) return true;
  std::int64_t value = DecimalValue(code);
  return value >= 1001 && value <= 1003;
}

std::int64_t CPrivateBrand::DecimalValue(const std::string& code) {
  std::size_t i = 0;
  while (i < code.size() && IsAsciiSpace(code[i])) ++i;
  bool negative = false;
  if (i < code.size() && (code[i] == '+' || code[i] == '-')) {
    negative = code[i] == '-';
    ++i;
  }
  // Accumulated as a negative number, whose range is one larger.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  for (; i < code.size() && code[i] >= '0' && code[i] <= '9'; ++i) {
    int digit = code[i] - '0';
    if (value < (kMin + digit) / 10) {
      value = kMin;
      // Keep stepping over the digits; the value stays at the end.
      continue;
    }
    value = value * 10 - digit;
  }
  if (negative) return value;
  return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}
