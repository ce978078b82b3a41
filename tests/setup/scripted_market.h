#ifndef TICKORA_TESTS_SETUP_SCRIPTED_MARKET_H_
#define TICKORA_TESTS_SETUP_SCRIPTED_MARKET_H_

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "setup/worker_progress.h"
#include "web/web_market.h"

// A market data source that answers from tables set up by a test. Every
// call is counted under "kind:code" (kind: list, last, brand, divide,
// price, margin; the code of a list page is its number, of an existence
// check its position). A call named "kind:code#n" (the n-th such call,
// from 1) in `fail` answers -404; one named in `cancel` sets the observed
// record's cancel flag and answers normally.
class ScriptedMarket : public CWebMarket {
 public:
  std::vector<std::vector<std::string>> pages;  // list pages 1, 2, ...
  bool endlessPages = false;                    // every page gives a code
  std::set<std::string> existing;               // codes GetPriceLast finds
  std::int32_t batch = 2;                       // codes examined a call
  std::vector<std::string> extraFound;          // added to every answer
  std::map<std::string, CBrandRecord> brands;
  std::map<std::string, std::vector<CDivideRecord>> divides;
  std::map<std::string, std::vector<CDayRecord>> prices;  // answered a month a call
  std::set<std::string> adjusted;               // codes answered with adjust
  std::map<std::string, std::vector<CMarginRecord>> margins;
  std::set<std::string> fail, cancel;
  WorkerProgress* observed = nullptr;
  std::map<std::string, int> calls;
  std::vector<int> doneAtBrand;  // the observed record's done at each GetBrand

  int Calls(const std::string& key) const {
    auto it = calls.find(key);
    return it == calls.end() ? 0 : it->second;
  }

  std::int32_t GetBrandList(std::int32_t page, std::vector<std::string>& codes) override {
    codes.clear();
    if (!Count("list:" + std::to_string(page))) return -404;
    if (endlessPages) codes.push_back(std::to_string(1300 + page));
    else if (page <= static_cast<std::int32_t>(pages.size())) codes = pages[page - 1];
    return 0;
  }
  std::int32_t GetPriceLast(std::int32_t& position, const std::vector<std::string>& codes,
                            CQuoteItems& records) override {
    records.clear();
    if (!Count("last:" + std::to_string(position))) return -404;
    const std::int32_t end = std::min<std::int32_t>(position + batch, codes.size());
    // Reverse order, so the stage has to sort.
    for (std::int32_t i = end - 1; i >= position; --i) {
      if (existing.count(codes[i])) records.push_back({codes[i], {}});
    }
    for (const std::string& code : extraFound) records.push_back({code, {}});
    position = end;
    return 0;
  }
  std::int32_t GetBrand(const std::string& code, CBrandRecord& record) override {
    if (observed != nullptr) doneAtBrand.push_back(observed->done);
    if (!Count("brand:" + code)) return -404;
    record = brands[code];
    return 0;
  }
  std::int32_t GetDivide(const std::string& code, std::vector<CDivideRecord>& splits) override {
    splits.clear();
    if (!Count("divide:" + code)) return -404;
    splits = divides[code];
    return 0;
  }
  // One calendar month a call, from `from` to the first of the next month.
  std::int32_t GetPrice(std::uint32_t& from, std::uint32_t to, const std::string& code,
                        CQuoteItems& records, bool& adjust) override {
    records.clear();
    if (!Count("price:" + code)) return -404;
    const std::uint32_t next = NextMonth(from);
    for (const CDayRecord& bar : prices[code]) {
      if (bar.DateNumber() >= from && bar.DateNumber() < next && bar.DateNumber() <= to) {
        records.push_back({code, bar});
      }
    }
    adjust = adjusted.count(code) > 0;
    from = next;
    return 0;
  }
  std::int32_t GetMargin(std::uint32_t& from, std::uint32_t to, const std::string& code,
                         std::vector<CMarginRecord>& records) override {
    records.clear();
    if (!Count("margin:" + code)) return -404;
    const std::uint32_t next = NextMonth(from);
    for (const CMarginRecord& entry : margins[code]) {
      const std::uint32_t day = entry.date.ToNumber();
      if (day >= from && day < next && day <= to) records.push_back(entry);
    }
    from = next;
    return 0;
  }
  std::string GetMessage(std::int32_t result) const override {
    return "message " + std::to_string(result);
  }

 private:
  static std::uint32_t NextMonth(std::uint32_t from) {
    const std::uint32_t year = from / 10000, month = from / 100 % 100;
    return month == 12 ? (year + 1) * 10000 + 101 : year * 10000 + (month + 1) * 100 + 1;
  }
  // False when the call is to fail.
  bool Count(const std::string& key) {
    const std::string nth = key + "#" + std::to_string(++calls[key]);
    if (cancel.count(nth) && observed != nullptr) observed->cancel = 1;
    return fail.count(nth) == 0;
  }
};

#endif  // TICKORA_TESTS_SETUP_SCRIPTED_MARKET_H_
