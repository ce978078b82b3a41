#include "support/c_locale.h"

locale_t CLocale() {
  // Made on first use, safe against concurrent first calls, never freed.
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c_locale;
}

CCLocaleScope::CCLocaleScope() : previous_(static_cast<locale_t>(0)) {
  const locale_t c_locale = CLocale();
  if (c_locale != static_cast<locale_t>(0)) previous_ = uselocale(c_locale);
}

CCLocaleScope::~CCLocaleScope() {
  if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
}
