#ifndef TICKORA_TESTS_COMMON_SCRIPTED_MARKET_H_
#define TICKORA_TESTS_COMMON_SCRIPTED_MARKET_H_

#include <algorithm>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "setup/worker_progress.h"
#include "web/http_client.h"
#include "web/web_market.h"

// A market data source that answers from tables set up by a test. Every
// call is counted under "kind:code" (kind: list, last, brand, divide,
// price, margin; a list page's code is its number, an existence check's its
// position). The call "kind:code#n" (n-th such call, from 1) answers -404
// when it is in `fail`, and sets the observed record's cancel when it is in
// `cancel`; one in `stopped` does that too and answers as a download the
// cancel stopped. Histories are answered one calendar month a call (the
// margin balances of the codes in `wholeMargins` whole at every call, as
// pages do). A call in `thrown` throws std::bad_alloc. With an observed
// record, `trail` gets "stage:index" of the record at every call, in order,
// and `posted` the usage records.
class ScriptedMarket : public CWebMarket {
 public:
  std::vector<std::vector<std::string>> pages;  // list pages 1, 2, ...
  bool endlessPages = false;                    // every page gives a code
  std::set<std::string> existing;               // codes GetPriceLast finds
  std::int32_t batch = 2;                       // codes examined a call
  std::vector<std::string> extraFound;          // added to every answer
  std::map<std::string, CBrandRecord> brands;
  std::map<std::string, std::vector<CDivideRecord>> divides;
  std::map<std::string, std::vector<CDayRecord>> prices;
  std::set<std::string> adjusted;               // answered with adjust set
  // Added as they are to the first answer of a code's history, whatever
  // their dates: what a broken or hostile source sends.
  std::map<std::string, std::vector<CDayRecord>> extraBars;
  std::map<std::string, std::vector<CMarginRecord>> extraEntries;
  std::map<std::string, std::vector<CMarginRecord>> margins;
  std::set<std::string> wholeMargins;           // every entry at every call
  std::set<std::string> fail, cancel, stopped, thrown;
  std::map<std::string, std::int32_t> failWith;  // a call's own failure code
  WorkerProgress* observed = nullptr;
  std::map<std::string, int> calls;
  std::vector<int> doneAtBrand;  // the observed done at each GetBrand
  std::vector<std::string> trail;
  std::vector<std::string> posted;

  int Calls(const std::string& key) const { return calls.count(key) ? calls.at(key) : 0; }

  std::int32_t GetBrandList(std::int32_t page, std::vector<std::string>& codes) override {
    codes.clear();
    if (endlessPages) codes.push_back(std::to_string(1300 + page));
    else if (page <= static_cast<std::int32_t>(pages.size())) codes = pages[page - 1];
    return Count("list:" + std::to_string(page));
  }
  std::int32_t GetPriceLast(std::int32_t& position, const std::vector<std::string>& codes,
                            CQuoteItems& records) override {
    records.clear();
    const std::int32_t status = Count("last:" + std::to_string(position));
    const std::int32_t end = std::min<std::int32_t>(position + batch, codes.size());
    for (std::int32_t i = end - 1; i >= position; --i) {  // reversed: the stage sorts
      if (existing.count(codes[i])) records.push_back({codes[i], {}});
    }
    for (const std::string& code : extraFound) records.push_back({code, {}});
    position = end;
    return status;
  }
  std::int32_t GetBrand(const std::string& code, CBrandRecord& record) override {
    if (observed != nullptr) doneAtBrand.push_back(observed->done);
    record = brands[code];
    return Count("brand:" + code);
  }
  std::int32_t GetDivide(const std::string& code, std::vector<CDivideRecord>& splits) override {
    splits = divides[code];
    return Count("divide:" + code);
  }
  std::int32_t GetPrice(std::uint32_t& from, std::uint32_t to, const std::string& code,
                        CQuoteItems& records, bool& adjust) override {
    records.clear();
    for (const CDayRecord& bar : prices[code]) {
      if (InMonth(bar.DateNumber(), from, to)) records.push_back({code, bar});
    }
    if (Calls("price:" + code) == 0) {
      for (const CDayRecord& bar : extraBars[code]) records.push_back({code, bar});
    }
    adjust = adjusted.count(code) > 0;
    from = NextMonth(from);
    return Count("price:" + code);
  }
  std::int32_t GetMargin(std::uint32_t& from, std::uint32_t to, const std::string& code,
                         std::vector<CMarginRecord>& records) override {
    records.clear();
    for (const CMarginRecord& entry : margins[code]) {
      if (wholeMargins.count(code) || InMonth(entry.date.ToNumber(), from, to)) {
        records.push_back(entry);
      }
    }
    if (Calls("margin:" + code) == 0) {
      records.insert(records.end(), extraEntries[code].begin(), extraEntries[code].end());
    }
    from = NextMonth(from);
    return Count("margin:" + code);
  }
  std::string GetMessage(std::int32_t result) const override {
    return "message " + std::to_string(result);
  }
  void PostUsageLog(const std::string& event) override { posted.push_back(event); }
  void FetchAhead(std::int32_t, bool, bool) override {}

 private:
  static std::uint32_t NextMonth(std::uint32_t from) {
    const std::uint32_t year = from / 10000, month = from / 100 % 100;
    return month == 12 ? (year + 1) * 10000 + 101 : year * 10000 + (month + 1) * 100 + 1;
  }
  static bool InMonth(std::uint32_t day, std::uint32_t from, std::uint32_t to) {
    return day >= from && day < NextMonth(from) && day <= to;
  }
  std::int32_t Count(const std::string& key) {
    const std::string nth = key + "#" + std::to_string(++calls[key]);
    if (observed != nullptr) {
      trail.push_back(std::to_string(observed->stage) + ":" +
                      std::to_string(observed->resumeIndex));
    }
    if (thrown.count(nth)) throw std::bad_alloc();
    if ((cancel.count(nth) || stopped.count(nth)) && observed != nullptr) observed->cancel = 1;
    if (stopped.count(nth)) return CHttpClient::kErrorCancelled;
    if (failWith.count(nth)) return failWith.at(nth);
    return fail.count(nth) ? -404 : 0;
  }
};

#endif  // TICKORA_TESTS_COMMON_SCRIPTED_MARKET_H_
