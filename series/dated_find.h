#ifndef TICKORA_SERIES_DATED_FIND_H_
#define TICKORA_SERIES_DATED_FIND_H_

#include <algorithm>
#include <cstdint>

// The search every dated series (bars, margin entries) offers as Find.
// `records` is in ascending date order and `dateOf(record)` gives a
// record's date number.
enum : int32_t {
  kFindExact = 0,           // a record on the date
  kFindExactOrLater = 1,    // or else the first later one
  kFindExactOrEarlier = 2,  // or else the last earlier one
};

// Sets `index` to the record `mode` asks for and answers true; answers
// false, leaving `index` alone, when there is none. Any other mode acts as
// kFindExact.
template <class Records, class DateOf>
[[nodiscard]] bool FindDated(const Records& records, uint32_t date, int32_t mode,
               int32_t& index, DateOf dateOf) {
  const auto it = std::lower_bound(
      records.begin(), records.end(), date,
      [&dateOf](const auto& record, uint32_t d) { return dateOf(record) < d; });
  const int32_t at = static_cast<int32_t>(it - records.begin());
  if (it != records.end() && dateOf(*it) == date) {
    index = at;
    return true;
  }
  // `at` is the first later record (the size when there is none).
  if (mode == kFindExactOrLater && it != records.end()) {
    index = at;
    return true;
  }
  if (mode == kFindExactOrEarlier && at > 0) {
    index = at - 1;
    return true;
  }
  return false;
}

#endif  // TICKORA_SERIES_DATED_FIND_H_
