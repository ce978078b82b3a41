#ifndef TICKORA_SERIES_QUOTE_ITEM_H_
#define TICKORA_SERIES_QUOTE_ITEM_H_

#include <string>
#include <vector>

#include "series/day_record.h"

// One bar as the data sources deliver it: the issue code it belongs to
// (CP932 text) and the bar. Answers that cover several days or several
// issues are lists of these items in the order the source gave them.
struct CQuoteItem {
  std::string code;
  CDayRecord record;

  bool operator==(const CQuoteItem& other) const = default;
};

using CQuoteItems = std::vector<CQuoteItem>;

#endif  // TICKORA_SERIES_QUOTE_ITEM_H_
