#include "web/price_pages.h"

#include <algorithm>
#include <string>

#include "web/page_tokens.h"
#include "web/web_number.h"
#include "web/web_result.h"

namespace {

// A figure stored the way the portal's rates are kept: single precision.
double Single(double value) { return static_cast<double>(static_cast<float>(value)); }

bool ReadDate(const std::string& text, CDate& date) { return date.Parse(text); }

// The code in a page title such as "サンプル(130A) 株価": the letters and
// digits after a "(" up to the ")". Newer codes carry a letter (130A), so
// stopping at the first non-digit would cut them to 130. A name may hold
// parentheses of its own ("(HD)", "(株)"), so the first "(" whose text
// starts with a digit and runs to a ")" is the code's; false when none is.
bool CodeInTitle(const std::string& title, std::string& code) {
  for (size_t open = title.find('('); open != std::string::npos;
       open = title.find('(', open + 1)) {
    size_t end = open + 1;
    while (end < title.size()) {
      const char c = title[end];
      const bool letterOrDigit =
          (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      if (!letterOrDigit) break;
      ++end;
    }
    const bool digitFirst = end > open + 1 && title[open + 1] >= '0' && title[open + 1] <= '9';
    if (digitFirst && end < title.size() && title[end] == ')') {
      code = title.substr(open + 1, end - open - 1);
      return true;
    }
  }
  return false;
}

// Whether a row read any price. A row whose first cell is no date and
// which holds no figure is a heading (column names in header cells) and is
// passed over; one that holds prices fails its page, as its day is unknown.
bool HasFigures(const CDayRecord& bar) {
  return bar.open != 0 || bar.high != 0 || bar.low != 0 || bar.close != 0;
}

// A quote whose open is 0 (no trade yet today) shows the close as the
// day's only price.
void FillFromClose(CDayRecord& record) {
  if (record.open == 0) record.open = record.high = record.low = record.close;
}

}  // namespace

int32_t ReadStockHistoryPage(CBuffer& page, std::vector<CDayRecord>& rows) {
  rows.clear();
  CPageTokens t(page);
  enum { kHead, kRow, kDate, kOpen, kHigh, kLow, kClose, kVolume, kAdjusted, kRowEnd };
  int state = kHead;
  CDayRecord row;
  bool dated = false;
  while (t.Next()) {
    switch (state) {
      case kHead:
        if (t.IsText() && Contains(t.Text(), "調整後終値*")) state = kRow;
        break;
      case kRow:
        if (t.IsStart("tr")) {
          state = kDate;
        } else if (t.IsEnd("table")) {
          return 0;
        }
        break;
      case kRowEnd:
        if (t.IsEnd("tr")) {
          if (row.open != 0) rows.push_back(row);
          state = kRow;
        }
        break;
      default:
        if (t.IsEnd("tr")) return kWebErrorPage;  // a row without all its cells
        if (!t.IsText()) break;
        if (state == kDate) {
          CDate date;
          dated = ReadDate(t.Text(), date);
          row = CDayRecord();
          row.SetDate(date);
          state = kOpen;
          break;
        }
        const double value = ParseWebDouble(t.Text());
        switch (state) {
          case kOpen:
            // A row without prices is skipped whatever its first cell (a
            // header row below the anchor); prices without a date fail.
            if (value != 0 && !dated) return kWebErrorPage;
            row.open = value;
            state = value == 0 ? kRowEnd : kHigh;
            break;
          case kHigh:
            row.high = value;
            state = kLow;
            break;
          case kLow:
            row.low = value;
            state = kClose;
            break;
          case kClose:
            row.close = value;
            state = kVolume;
            break;
          case kVolume:
            row.volume = value;
            state = kAdjusted;
            break;
          case kAdjusted:
            row.rawClose = value;
            state = kRowEnd;
            break;
        }
        break;
    }
  }
  return state == kHead && t.DocumentEnded() ? 0 : kWebErrorPage;
}

int32_t ReadBrokerQuotePage(CBuffer& page, const CDate& date, CQuoteItems& items) {
  items.clear();
  CPageTokens t(page);
  // The label awaited before each figure, in page order.
  static const char* const kLabels[] = {"現在値", "始値", "出来高", "高値", "安値"};
  CQuoteItem item;
  int state = 0;  // 0 top, 1 code value, then label/figure pairs from 2
  while (t.Next()) {
    if (state == 0) {
      if (t.IsText() && Contains(t.Text(), "対象銘柄はありません")) return 0;
      if (t.IsValue() && t.Raw() == "ipm_product_code") state = 1;
      continue;
    }
    if (state == 1) {
      if (t.IsValue()) {
        item.code = t.Raw();
        state = 2;
      }
      continue;
    }
    if (!t.IsText()) continue;
    const int pair = (state - 2) / 2;
    if ((state - 2) % 2 == 0) {
      if (Contains(t.Text(), kLabels[pair])) ++state;
      continue;
    }
    const double value = ParseWebDouble(t.Text());
    CDayRecord& r = item.record;
    switch (pair) {
      case 0:
        r.close = r.rawClose = value;
        break;
      case 1:
        r.open = value;
        break;
      case 2:
        r.volume = value;
        break;
      case 3:
        r.high = value;
        break;
      case 4:
        r.low = value;
        r.SetDate(date);
        FillFromClose(r);
        items.push_back(item);
        return 0;
    }
    ++state;
  }
  return kWebErrorPage;
}

int32_t ReadStockInfoPage(CBuffer& page, const CDate& date, CQuoteItems& items) {
  items.clear();
  CPageTokens t(page);
  enum { kTop, kTitle, kLabel, kOpen, kHighLabel, kHigh, kLowLabel, kLow, kVolumeLabel,
         kVolume, kPriceName, kPrice };
  int state = kTop;
  CQuoteItem item;
  CDayRecord& r = item.record;
  while (t.Next()) {
    switch (state) {
      case kTop:
        if (t.IsStart("title")) state = kTitle;
        break;
      case kTitle:
        if (!t.IsText()) break;
        item = CQuoteItem();
        // A title without a code is refused only when a quote would be
        // taken under it: a delisted issue's page still reads as no quote.
        CodeInTitle(t.Text(), item.code);
        state = kLabel;
        break;
      case kLabel:
        if (!t.IsText()) break;
        if (t.Text() == "始値") {
          state = kOpen;
        } else if (t.Text() == "上場廃止") {
          state = kTop;  // a delisted issue has no quote
        }
        break;
      case kHighLabel:
      case kLowLabel:
      case kVolumeLabel: {
        static const char* const kNames[] = {"高値", "安値", "出来高"};
        const char* name = kNames[(state - kHighLabel) / 2];
        if (t.IsText() && t.Text() == name) ++state;
        break;
      }
      case kOpen:
      case kHigh:
      case kLow:
      case kVolume: {
        if (!t.IsText()) break;
        const double value = ParseWebDouble(t.Text());
        if (state == kOpen) r.open = value;
        if (state == kHigh) r.high = value;
        if (state == kLow) r.low = value;
        if (state == kVolume) r.volume = value;
        ++state;
        break;
      }
      case kPriceName:
        if (t.Kind() == CHtmlTokenizer::kAttributeName && t.Raw() == "data-price") {
          state = kPrice;
        }
        break;
      case kPrice:
        if (!t.IsValue()) break;
        if (item.code.empty()) return kWebErrorPage;
        r.close = r.rawClose = ParseWebDouble(t.Raw());
        r.SetDate(date);
        FillFromClose(r);
        items.push_back(item);
        state = kTop;
        break;
    }
  }
  return state == kTop ? 0 : kWebErrorPage;
}

int32_t ReadPortalHistoryPage(CBuffer& page, std::vector<CDayRecord>& bars) {
  bars.clear();
  CPageTokens t(page);
  enum { kRow, kHeadCell, kDate, kOpen, kHigh, kLow, kClose, kRowEnd };
  int state = kRow;
  CDayRecord bar;
  bool dated = false;
  bool tableEnded = false;  // the last tag seen closed a table body
  while (t.Next()) {
    if (t.IsEnd("tbody")) {
      tableEnded = true;
    } else if (!t.IsText()) {
      tableEnded = false;
    }
    switch (state) {
      case kRow:
        if (t.IsStart("tr")) state = kHeadCell;
        break;
      case kHeadCell:
        if (t.IsStart("th")) state = kDate;
        break;
      case kRowEnd:
        // Further cells (a listed stock's volume) are passed over.
        if (t.IsEnd("tr")) {
          if (dated) {
            bars.push_back(bar);
          } else if (HasFigures(bar)) {
            return kWebErrorPage;
          }
          state = kRow;
        }
        break;
      default:
        if (t.IsEnd("tr")) return kWebErrorPage;  // a row without all its cells
        if (!t.IsText()) break;
        if (state == kDate) {
          CDate date;
          dated = ReadDate(t.Text(), date);
          bar = CDayRecord();
          bar.SetDate(date);
        } else {
          const double value = Single(ParseWebDouble(t.Text()));
          if (state == kOpen) bar.open = value;
          if (state == kHigh) bar.high = value;
          if (state == kLow) bar.low = value;
          if (state == kClose) bar.close = value;
        }
        ++state;
        break;
    }
  }
  // Between rows the page may end, but only whole: after its table body (a
  // currency pair's history is that fragment alone) or as a whole
  // document. A page cut between rows would lose its older rows for good.
  return state == kRow && (tableEnded || t.DocumentEnded()) ? 0 : kWebErrorPage;
}

int32_t ReadLabelledQuotePage(CBuffer& page, bool textAfterLow, CDayRecord& bar) {
  bar = CDayRecord();
  CPageTokens t(page);
  static const char* const kLabels[] = {"現在値", "始値", "高値", "安値"};
  int state = 0;  // even: awaiting label state / 2; odd: its figure; 8: the closing text
  while (t.Next()) {
    if (!t.IsText()) continue;
    if (state == 8) return 0;
    if (state % 2 == 0) {
      if (t.Text() == kLabels[state / 2]) ++state;
      continue;
    }
    const double value = ParseWebDouble(t.Text());
    switch (state / 2) {
      case 0:
        bar.close = value;
        break;
      case 1:
        bar.open = value;
        break;
      case 2:
        bar.high = value;
        break;
      case 3:
        bar.low = value;
        break;
    }
    ++state;
    if (state == 8 && !textAfterLow) return 0;
  }
  return kWebErrorPage;
}

int32_t ReadFuturesDataPage(CBuffer& page, std::vector<CDayRecord>& bars) {
  bars.clear();
  CPageTokens t(page);
  // -1: between rows; 0: awaiting the date; 1-8: figures read so far + 1.
  int state = -1;
  CDayRecord bar;
  bool dated = false;
  while (t.Next()) {
    // Every "th" opens a row; a row still open then was cut short.
    if (t.IsStartExactly("th")) {
      state = 0;
      continue;
    }
    if (state < 0 || !t.IsText()) continue;
    if (state == 0) {
      CDate date;
      dated = ReadDate(t.Text(), date);
      bar = CDayRecord();
      bar.SetDate(date);
      state = 1;
      continue;
    }
    const double value = ParseWebDouble(t.Text());
    if (state == 1) bar.open = value;
    if (state == 2) bar.high = value;
    if (state == 3) bar.low = value;
    if (state == 4) bar.close = value;
    if (++state == 9) {
      if (dated) {
        bars.push_back(bar);
      } else if (HasFigures(bar)) {
        return kWebErrorPage;
      }
      state = -1;
    }
  }
  // A row cut short at the end is dropped, and the page is whole only when
  // the document came to its end: a page cut there would lose its older
  // rows for good.
  return t.DocumentEnded() ? 0 : kWebErrorPage;
}

int32_t ReadDowDataPage(CBuffer& page, std::vector<CDayRecord>& bars) {
  bars.clear();
  CPageTokens t(page);
  enum { kBeforeHead, kBetweenRows, kOpen, kHigh, kLow, kClose, kRowEnd };
  int state = kBeforeHead;
  CDayRecord bar;
  while (t.Next()) {
    if (state == kBeforeHead) {
      if (t.IsEnd("thead")) state = kBetweenRows;
      continue;
    }
    if (t.IsEnd("tbody")) return state == kBetweenRows || state == kRowEnd ? 0 : kWebErrorPage;
    if (t.IsEnd("tr")) {
      if (state != kBetweenRows && state != kRowEnd) return kWebErrorPage;  // cut short
      state = kBetweenRows;
      continue;
    }
    if (!t.IsText()) continue;
    if (state == kBetweenRows) {
      CDate date;
      if (ReadDate(t.Text(), date)) {
        bar = CDayRecord();
        bar.SetDate(date);
        state = kOpen;
      }
      continue;
    }
    if (state == kRowEnd) continue;
    const double value = ParseWebDouble(t.Text());
    if (state == kOpen) bar.open = value;
    if (state == kHigh) bar.high = value;
    if (state == kLow) bar.low = value;
    if (state == kClose) {
      bar.close = value;
      bars.push_back(bar);
    }
    ++state;
  }
  // Ending before the table's head, or right after a row, is a whole page
  // only when the document came to its end: a page cut there would read as
  // no trading, or lose the older rows, and the days asked for would never
  // be asked again.
  return (state == kBeforeHead || state == kRowEnd) && t.DocumentEnded() ? 0 : kWebErrorPage;
}

int32_t ReadDowQuotePage(CBuffer& page, CDayRecord& bar) {
  bar = CDayRecord();
  CPageTokens t(page);
  int read = 0;
  bool figureNext = false;
  while (t.Next()) {
    if (!t.IsText()) continue;
    if (!figureNext) {
      figureNext = t.Text() == "用語";
      continue;
    }
    const double value = ParseWebDouble(t.Text());
    if (read == 0) bar.close = value;
    if (read == 1) bar.open = value;
    if (read == 2) bar.high = value;
    if (read == 3) bar.low = value;
    figureNext = false;
    if (++read == 4) return 0;
  }
  return kWebErrorPage;
}

void OldestFirst(std::vector<CDayRecord>& bars) {
  std::reverse(bars.begin(), bars.end());
  std::stable_sort(bars.begin(), bars.end(), [](const CDayRecord& a, const CDayRecord& b) {
    return a.DateNumber() < b.DateNumber();
  });
}
