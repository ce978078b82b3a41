#include "web/stock_pages.h"

#include <algorithm>
#include <cstring>

#include "support/cp932.h"
#include "support/date.h"
#include "support/text.h"
#include "web/html_tokenizer.h"
#include "web/page_tokens.h"
#include "web/web_number.h"
#include "web/web_result.h"

namespace {


// ---- Texts ----------------------------------------------------------------------

// True when the CP932 text holds `anchor` starting on a character boundary,
// so that the trail byte of one character and the lead byte of the next
// never pass for a character of the anchor.
bool Contains(const std::string& text, const char* anchor) {
  const size_t n = std::strlen(anchor);
  for (size_t i = 0; i + n <= text.size();) {
    if (text.compare(i, n, anchor) == 0) return true;
    i += IsCp932LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
  }
  return false;
}

// The figure read from the text's first digit on, so that a loss printed as
// "-12.5" gives 12.5; 0 for a text without a digit.
double FromFirstDigit(const std::string& text) {
  const size_t digit = text.find_first_of("0123456789");
  return digit == std::string::npos ? 0.0 : ParseWebDouble(text.substr(digit));
}

// The issue name without the company-form mark "(株)": the rest after it
// when the name begins with it, the part before it when it comes later.
std::string CutCompanyMark(const std::string& text) {
  static const std::string kMark = "(株)";
  const size_t at = text.find(kMark);
  if (at == std::string::npos) return text;
  return at == 0 ? text.substr(kMark.size()) : text.substr(0, at);
}

uint32_t UnitOf(const std::string& text) {
  const int32_t unit = ParseWebInt(text);
  return unit == 0 ? 1u : static_cast<uint32_t>(unit);
}

// Sets lendable from the margin ratio cell: "---" means no margin trading
// (0), a positive ratio margin buying and selling (2), anything else margin
// buying only (1).
void SetLendable(const std::string& text, CBrandRecord& record) {
  if (text == "---") {
    record.lendable = 0;
  } else {
    record.lendable = ParseWebDouble(text) > 0 ? 2 : 1;
  }
}

void ClearRecord(CBrandRecord& record) {
  record.code.clear();
  record.name.clear();
  record.market.clear();
  record.industry.clear();
  record.unit = 0;
  record.lendable = 0;
  record.sharesOutstanding = 0;
  record.dividend = 0;
  record.eps = 0;
  record.bps = 0;
}

// ---- Quote page -----------------------------------------------------------------

// Whether the page goes on after the margin ratio, the last thing a quote
// page walk reads. A page cut inside the tag after the ratio ends with that
// tag's name delivered as a text, which would be taken for the ratio; so a
// walk succeeds only when some token follows the ratio.
bool MorePage(CPageTokens& walk) { return walk.Next(); }

// A figure the label walk is waiting for.
enum class Figure { kNone, kUnit, kShares, kDividend, kEps, kBps, kMarginRatio };

void Store(Figure figure, const std::string& text, CBrandRecord& record) {
  switch (figure) {
    case Figure::kUnit:
      record.unit = UnitOf(text);
      break;
    case Figure::kShares:
      record.sharesOutstanding = ParseWebDouble(text);
      break;
    case Figure::kDividend:
      record.dividend = ParseWebDouble(text);
      break;
    case Figure::kEps:
      record.eps = FromFirstDigit(text);
      break;
    case Figure::kBps:
      record.bps = FromFirstDigit(text);
      break;
    case Figure::kMarginRatio:
      SetLendable(text, record);
      break;
    case Figure::kNone:
      break;
  }
}

// The older layout: market tab, an info box with code and industry, the
// name in the table summarised "株価詳細", then help texts each followed by
// the figure they explain. True once the margin ratio is read.
bool ParseOlderLayout(CBuffer& page, CBrandRecord& record) {
  CPageTokens walk(page);
  int state = 0;
  Figure awaited = Figure::kNone;
  while (walk.Next()) {
    switch (state) {
      case 0:
        if (walk.IsValue("stockMainTabName")) state = 1;
        break;
      case 1:
        if (walk.IsText()) {
          record.market = StringTrim(walk.Text());
          state = 2;
        }
        break;
      case 2:
        if (walk.IsValue("stocksInfo clearFix")) state = 3;
        break;
      case 3:
        if (walk.IsText()) {
          record.code = walk.Raw();
          state = 4;
        }
        break;
      case 4:
        if (walk.IsText()) {
          record.industry = walk.Text();
          state = 5;
        }
        break;
      case 5:
        if (walk.IsValue() && walk.Text() == "株価詳細") state = 6;
        break;
      case 6:
        if (walk.IsText()) {
          record.name = CutCompanyMark(walk.Text());
          state = 7;
        }
        break;
      case 7: {
        if (!walk.IsText()) break;
        const std::string text = walk.Text();
        if (awaited != Figure::kNone) {
          // EPS and BPS need a digit; a text without one ("---") leaves
          // the figure at 0.
          Store(awaited, text, record);
          if (awaited == Figure::kMarginRatio) return MorePage(walk);
          awaited = Figure::kNone;
        } else if (Contains(text, "あたりの値段")) {
          awaited = Figure::kUnit;
        } else if (text == "信用買残の売残に対する割合") {
          awaited = Figure::kMarginRatio;
        } else if (Contains(text, "銘柄の規模")) {
          awaited = Figure::kShares;
        } else if (Contains(text, "年間配当金")) {
          awaited = Figure::kDividend;
        } else if (Contains(text, "純資産倍率")) {
          awaited = Figure::kEps;
        } else if (Contains(text, "1株利益")) {
          awaited = Figure::kBps;
        }
        break;
      }
    }
  }
  return false;
}

// The newer layout: market switch or label, name, code and industry in the
// price board, then data lists whose figures stand in elements of a known
// class after their names. True once the margin ratio is read.
bool ParseNewerLayout(CBuffer& page, CBrandRecord& record) {
  static const char kLongValue[] = "StyledNumber__value__3rXW DataListItem__value__11kV";
  static const char kShortValue[] = "StyledNumber__value__3rXW";
  CPageTokens walk(page);
  int state = 0;
  // What the label walk (state 7) waits for: a value of class `awaitClass`
  // first when set, then `skipTexts` texts to pass over, then the figure.
  Figure awaited = Figure::kNone;
  const char* awaitClass = nullptr;
  int skipTexts = 0;
  while (walk.Next()) {
    switch (state) {
      case 0:
        if (walk.IsValue("PriceBoardMenu__toggle__4C2X") ||
            walk.IsValue("PriceBoardMenu__label__3sg2")) {
          state = 1;
        }
        break;
      case 1:
        if (walk.IsText()) {
          record.market = StringTrim(walk.Text());
          state = 2;
        }
        break;
      case 2:
        if (walk.IsValue("PriceBoardMain__name__6uDh")) state = 3;
        break;
      case 3:
        if (walk.IsText()) {
          record.name = CutCompanyMark(walk.Text());
          state = 4;
        }
        break;
      case 4:
        if (walk.IsValue("PriceBoardMain__code__2wso")) state = 5;
        break;
      case 5:
        if (walk.IsText()) {
          record.code = walk.Raw();
          state = 6;
        }
        break;
      case 6:
        if (walk.IsText()) {
          record.industry = walk.Text();
          state = 7;
        }
        break;
      case 7: {
        if (awaitClass != nullptr) {
          if (walk.IsValue(awaitClass)) awaitClass = nullptr;
          break;
        }
        if (!walk.IsText()) break;
        if (awaited != Figure::kNone) {
          if (skipTexts > 0) {
            --skipTexts;
            break;
          }
          Store(awaited, walk.Text(), record);
          if (awaited == Figure::kMarginRatio) return MorePage(walk);
          awaited = Figure::kNone;
          break;
        }
        const std::string text = walk.Text();
        if (Contains(text, "単元株数")) {
          awaited = Figure::kUnit;
          awaitClass = kLongValue;
        } else if (Contains(text, "売買単位")) {
          awaited = Figure::kUnit;
          skipTexts = 1;
        } else if (Contains(text, "発行済投資口数")) {
          // Investment units trade one at a time.
          record.unit = 1;
          awaited = Figure::kShares;
          skipTexts = 1;
        } else if (text == "信用倍率") {
          awaited = Figure::kMarginRatio;
          awaitClass = kShortValue;
        } else if (Contains(text, "発行済株式数")) {
          awaited = Figure::kShares;
          awaitClass = kLongValue;
        } else if (Contains(text, "1株配当")) {
          awaited = Figure::kDividend;
          awaitClass = kLongValue;
        } else if (Contains(text, "EPS")) {
          awaited = Figure::kEps;
          awaitClass = kLongValue;
        } else if (Contains(text, "BPS")) {
          awaited = Figure::kBps;
          awaitClass = kLongValue;
        }
        break;
      }
    }
  }
  return false;
}

// Kind and industry from the industry cell, the market's current name, and
// false for a market that no longer exists.
bool Normalise(CBrandRecord& record) {
  if (record.industry == "ETF") {
    record.kind = kKindEtf;
    record.industry.clear();
  } else if (record.industry == "REIT") {
    record.kind = kKindReit;
    record.industry.clear();
  } else {
    record.kind = kKindStock;
    // A date or a figure where the industry belongs. These bytes are all
    // below 0x40, so none can be the trail byte of a CP932 character.
    if (record.industry.find_first_of("0123456789:-/") != std::string::npos) {
      record.industry = "業種なし";
    }
  }
  if (record.market == "自動") record.market = "非上場";
  static const char* const kRetired[] = {"東証1部", "東証2部", "東証JQS", "東証JQG",
                                         "マザーズ", "JQS",     "名証2部"};
  for (const char* retired : kRetired) {
    if (record.market == retired) return false;
  }
  return true;
}

// ---- Issue list ------------------------------------------------------------------

// Searches the text for "(CODE/anything)", CODE being ASCII letters and
// digits, and gives the CODE of the leftmost such group. This is the
// ECMAScript pattern \(([A-Za-z0-9]+)/[^)]*\) written out: the standard
// library's regex engine recurses once per byte it matches and exhausts the
// stack on a long text, which a page can hold, so the pattern is matched
// here in one linear pass with the same result.
bool FindCodeGroup(const std::string& text, std::string& code) {
  auto isCodeByte = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  };
  for (size_t open = text.find('('); open != std::string::npos;
       open = text.find('(', open + 1)) {
    size_t end = open + 1;
    while (end < text.size() && isCodeByte(text[end])) ++end;
    if (end == open + 1 || end >= text.size() || text[end] != '/') continue;
    // From here a match needs only a ")" after the slash; without one,
    // no later "(" (all lie after the slash) can match either.
    if (text.find(')', end + 1) == std::string::npos) return false;
    code = text.substr(open + 1, end - open - 1);
    return true;
  }
  return false;
}

}  // namespace

std::int32_t ParseBrandPage(CBuffer& page, CBrandRecord& record) {
  ClearRecord(record);
  bool read = ParseOlderLayout(page, record);
  if (!read) {
    // Whatever the first walk reached is dropped, so that no field of one
    // layout survives into the record of the other.
    ClearRecord(record);
    read = ParseNewerLayout(page, record);
  }
  if (!read) return kWebErrorPage;
  return Normalise(record) ? 0 : kWebErrorRetiredMarket;
}

std::int32_t ParseBrandListPage(CBuffer& page, std::vector<std::string>& codes) {
  codes.clear();
  CPageTokens walk(page);
  int state = 0;
  while (walk.Next()) {
    switch (state) {
      case 0:
        if (walk.IsText() && walk.Text() == "業種") state = 1;
        break;
      case 1:
        if (walk.IsStart("TR")) {
          state = 2;
        } else if (walk.IsEnd("TABLE")) {
          return 0;
        }
        break;
      case 2:
        if (walk.IsStart("br")) state = 3;
        break;
      case 3:
        if (walk.IsText()) {
          std::string code;
          if (FindCodeGroup(walk.Text(), code)) codes.push_back(code);
          state = 1;
        }
        break;
    }
  }
  return state == 0 && walk.DocumentEnded() ? 0 : kWebErrorPage;
}

std::int32_t ParseDividePage(CBuffer& page, std::vector<CDivideRecord>& splits) {
  splits.clear();
  CPageTokens walk(page);
  int state = 0;
  double ratio = 0;
  while (walk.Next()) {
    switch (state) {
      case 0:
        if (walk.IsText() && walk.Text() == "分割情報") state = 1;
        break;
      case 1:
        if (walk.IsEnd("TD")) return 0;
        if (walk.IsText()) {
          // "[1:n]" and whatever follows: n new shares for one.
          const std::string text = walk.Text();
          if (text.size() >= 5 && text[0] == '[') {
            ratio = ParseWebDouble(text.substr(3));
            state = 2;
          }
        }
        break;
      case 2:
        if (walk.IsText()) {
          // The date after a two-byte opening bracket "（".
          const std::string text = walk.Text();
          CDivideRecord split;
          if (text.size() < 2 || !split.date.Parse(text.substr(2))) return kWebErrorPage;
          split.ratio = ratio;
          splits.push_back(split);
          state = 1;
        }
        break;
    }
  }
  return state == 0 && walk.DocumentEnded() ? 0 : kWebErrorPage;
}

std::int32_t ParseMarginPage(CBuffer& page, std::vector<CMarginRecord>& records) {
  records.clear();
  std::vector<CMarginRecord> newestFirst;
  CPageTokens walk(page);
  int state = 0;
  CMarginRecord entry;
  bool ended = false;
  while (!ended && walk.Next()) {
    switch (state) {
      case 0:
        if (walk.IsText() && walk.Text() == "信用倍率") state = 1;
        break;
      case 1:
        if (walk.IsStart("TR")) {
          state = 2;
        } else if (walk.IsEnd("TABLE")) {
          ended = true;
        }
        break;
      case 2:
        if (walk.IsText()) {
          entry = CMarginRecord();
          // A row that does not start with its week's date is not a row of
          // balances: taking it would write a week 0/0/0 into the file.
          if (!entry.date.Parse(walk.Text())) return kWebErrorPage;
          state = 3;
        }
        break;
      case 3:
        if (walk.IsText()) {
          entry.sell = ParseWebDouble(walk.Text());
          state = 4;
        }
        break;
      case 4:
        if (walk.IsText()) {
          entry.buy = ParseWebDouble(walk.Text());
          newestFirst.push_back(entry);
          state = 1;
        }
        break;
    }
  }
  if (!ended && (state != 0 || !walk.DocumentEnded())) return kWebErrorPage;
  records.assign(newestFirst.rbegin(), newestFirst.rend());
  return 0;
}
