#include "series/margin.h"

#include <algorithm>

#include "support/cp932.h"
#include "support/text.h"

bool CMargin::Find(uint32_t date, int32_t& index, int32_t mode) const {
  if (empty()) return false;
  auto it = std::lower_bound(begin(), end(), date,
                             [](const CMarginRecord& entry, uint32_t d) {
                               return entry.date.ToNumber() < d;
                             });
  const int32_t at = static_cast<int32_t>(it - begin());
  if (it != end() && it->date.ToNumber() == date) {
    index = at;
    return true;
  }
  // `at` is the first later entry (size() when there is none).
  if (mode == kFindExactOrLater && it != end()) {
    index = at;
    return true;
  }
  if (mode == kFindExactOrEarlier && at > 0) {
    index = at - 1;
    return true;
  }
  return false;
}

CDate CMargin::FirstDate() const { return empty() ? CDate() : front().date; }

CDate CMargin::LastDate() const { return empty() ? CDate() : back().date; }

CDate CMargin::DateAt(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= size()) return CDate();
  return (*this)[index].date;
}

bool CMargin::Load(std::unique_ptr<CMarginLoader> loader) {
  clear();
  if (!loader) return false;
  return loader->Load(*this) >= 0;
}

bool CMargin::Save(std::unique_ptr<CMarginSaver> saver) const {
  if (!saver) return false;
  return saver->Save(*this) >= 0;
}

void CMargin::Dump(std::FILE* out) const {
  for (const CMarginRecord& entry : *this) {
    PrintCp932(out, StringFormat("[日付:%u][買残:%.0f][売残:%.0f]\n",
                                 entry.date.ToNumber(), entry.buy, entry.sell));
  }
}
