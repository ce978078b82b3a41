#include "series/margin.h"

#include "series/dated_find.h"
#include "support/cp932.h"
#include "support/text.h"

bool CMargin::Find(uint32_t date, int32_t& index, int32_t mode) const {
  return FindDated(*this, date, mode, index, [](const CMarginRecord& entry) {
    return entry.date.ToNumber();
  });
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
