// Feeds arbitrary bytes, as a downloaded page, to every walk of the price
// readers. Besides the sanitizers' checks it stops on any broken promise:
// a result other than 0 or -10000, more rows than the page has tags to
// open them, a quote page giving more than one item, or a walk that does
// not give the same answer twice over the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "series/buffer_string.h"
#include "web/price_pages.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsResult(int32_t result) { return result == 0 || result == -10000; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CBufferString page;
  CBuffer::Handle handle = page.OpenWrite();
  // A text in memory takes every byte.
  (void)page.Write(handle, reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
  page.Close(handle);
  size_t tags = 0;
  for (size_t i = 0; i < size; ++i) tags += data[i] == '<';

  using ListWalk = int32_t (*)(CBuffer&, std::vector<CDayRecord>&);
  for (ListWalk walk : {ReadStockHistoryPage, ReadPortalHistoryPage, ReadFuturesDataPage,
                        ReadDowDataPage}) {
    std::vector<CDayRecord> first;
    std::vector<CDayRecord> second;
    const int32_t result = walk(page, first);
    Check(IsResult(result));
    Check(first.size() <= tags);
    Check(walk(page, second) == result && second == first);
  }

  CDayRecord bar;
  Check(IsResult(ReadLabelledQuotePage(page, true, bar)));
  Check(IsResult(ReadLabelledQuotePage(page, false, bar)));
  Check(IsResult(ReadDowQuotePage(page, bar)));

  const CDate date(2024, 3, 8);
  CQuoteItems items;
  const int32_t broker = ReadBrokerQuotePage(page, date, items);
  Check(IsResult(broker) && items.size() <= 1);
  const int32_t info = ReadStockInfoPage(page, date, items);
  Check(IsResult(info) && items.size() <= tags);
  for (const CQuoteItem& item : items) Check(!item.code.empty() && item.code.size() < size);
  return 0;
}
