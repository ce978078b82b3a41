#ifndef TICKORA_SERIES_MARGIN_H_
#define TICKORA_SERIES_MARGIN_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "series/dated_find.h"
#include "series/series_store.h"
#include "series/margin_record.h"
#include "support/date.h"

// CMargin is the margin balance series of one issue: its weekly entries,
// which are the elements of the vector it is. It owns its entries and is
// copied and moved like any vector. The entries are expected in ascending
// date order, at most one a date; Load and direct pushes keep the order
// their source gives, which is trusted.
//
// Dates are given as date numbers (year * 10000 + month * 100 + day) where
// the series is searched, and answered as CDate. Absence is answered by
// false or the empty date.
class CMargin : public std::vector<CMarginRecord> {
 public:

  using std::vector<CMarginRecord>::vector;
  CMargin() = default;
  CMargin(const CMargin&) = default;
  CMargin(CMargin&&) = default;
  CMargin& operator=(const CMargin&) = default;
  CMargin& operator=(CMargin&&) = default;
  virtual ~CMargin() = default;

  // Looks up `date` by binary search and writes the entry's index to
  // `index` when the answer is true (otherwise `index` is left alone).
  // Mode kFindExact wants an entry on the date; kFindExactOrLater also
  // takes the first later entry, kFindExactOrEarlier the last earlier one;
  // any other mode acts as kFindExact. An empty series answers false.
  [[nodiscard]] bool Find(uint32_t date, int32_t& index, int32_t mode) const;

  // The date of the first and of the last entry; the empty date for an
  // empty series.
  CDate FirstDate() const;
  CDate LastDate() const;

  // The date of entry `index`; the empty date for a negative index or one
  // at or past the end (a margin series does not look ahead).
  CDate DateAt(int32_t index) const;

  // Empties the series, lets the loader fill it, destroys the loader. True
  // when the loader's status is 0 or more; false too for a null loader.
  [[nodiscard]] bool Load(std::unique_ptr<CMarginLoader> loader);
  // Lets the saver write the series, destroys the saver. True when the
  // saver's status is 0 or more; false too for a null saver.
  [[nodiscard]] bool Save(std::unique_ptr<CMarginSaver> saver) const;

  // Prints one line an entry: "[日付:%u][買残:%.0f][売残:%.0f]" with the
  // date number and the two balances, in the terminal's charset. A
  // diagnostic aid.
  void Dump(std::FILE* out = stdout) const;
};

#endif  // TICKORA_SERIES_MARGIN_H_
