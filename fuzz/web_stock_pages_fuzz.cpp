// Feeds arbitrary bytes to the four page walks of the stock page reader as
// a downloaded page (quote, issue list, split and margin pages). Besides the
// sanitizers' checks it stops on any broken promise of a walk: a result
// other than 0, the changed-page code or (for the quote page) the retired
// market code; an output that is not emptied before it is filled; a code
// that is not letters and digits; a split or margin week without a date; a
// margin history whose weeks are not the page's rows turned around (the
// walk is run twice on the same bytes and must agree with itself); a walk
// that reads a small page but half reads one of its prefixes (a page cut
// short must be refused, or read whole when the cut fell after what the walk
// reads, or read as empty); a list, split or margin page read without an
// end tag.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "series/buffer_string.h"
#include "web/stock_pages.h"
#include "web/web_result.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Page : CBufferString {
  Page(const uint8_t* data, size_t size) {
    Handle handle = OpenWrite();
    // A text in memory takes every byte.
    (void)Write(handle, reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    Close(handle);
  }
};

bool IsFailure(int32_t result) { return result == kWebErrorPage; }

template <typename Out>
void CheckPrefixes(int32_t (*walk)(CBuffer&, Out&), const uint8_t* data, size_t size, int32_t result,
                   const Out& whole) {
  if (result != 0 || size > (1u << 13)) return;
  for (size_t n = 0; n < size; ++n) {
    Page cut(data, n);
    Out out{};
    const int32_t r = walk(cut, out);
    Check(IsFailure(r) || (r == 0 && (out == whole || out == Out{})));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  Page page(data, size);

  CBrandRecord record;
  record.kind = 99;
  const int32_t brand = ParseBrandPage(page, record);
  Check(brand == 0 || IsFailure(brand) || brand == kWebErrorRetiredMarket);
  if (brand == 0 || brand == kWebErrorRetiredMarket) {
    Check(record.kind == kKindStock || record.kind == kKindEtf || record.kind == kKindReit);
    Check(record.lendable <= 2);
    Check(record.sharesOutstanding >= 0 && record.dividend >= 0 && record.eps >= 0 &&
          record.bps >= 0);
  }

  std::vector<std::string> codes = {"stale"};
  const int32_t list = ParseBrandListPage(page, codes);
  Check(list == 0 || IsFailure(list));
  for (const std::string& code : codes) {
    Check(!code.empty());
    for (char c : code) {
      Check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    }
  }

  std::vector<CDivideRecord> splits(2);
  const int32_t divide = ParseDividePage(page, splits);
  Check(divide == 0 || IsFailure(divide));
  for (const CDivideRecord& split : splits) {
    Check(split.date.month >= 1 && split.date.month <= 12 && split.ratio >= 0);
  }

  std::vector<CMarginRecord> margin(2);
  const int32_t weeks = ParseMarginPage(page, margin);
  Check(weeks == 0 || IsFailure(weeks));
  if (IsFailure(weeks)) Check(margin.empty());
  for (const CMarginRecord& entry : margin) {
    Check(entry.date.month >= 1 && entry.date.month <= 12 && entry.buy >= 0 && entry.sell >= 0);
  }
  std::vector<CMarginRecord> again;
  Check(ParseMarginPage(page, again) == weeks && again == margin);

  // Every way to read a list, split or margin page passes an end tag: bytes
  // without a "/" (no page at all, or one cut before its end) must not read
  // as "the list has ended", "no splits" or "no margin", which would lose
  // data for good.
  if (std::find(data, data + size, '/') == data + size) {
    Check(IsFailure(list) && IsFailure(divide) && IsFailure(weeks));
  }

  CheckPrefixes(ParseBrandPage, data, size, brand, record);
  CheckPrefixes(ParseBrandListPage, data, size, list, codes);
  CheckPrefixes(ParseDividePage, data, size, divide, splits);
  CheckPrefixes(ParseMarginPage, data, size, weeks, margin);
  return 0;
}
