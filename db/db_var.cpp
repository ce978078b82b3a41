#include "db/db_var.h"

#include <locale.h>
#include <stdlib.h>

#include <limits>

#include "support/c_locale.h"
#include "support/date.h"

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

CDBVar::CDBVar(const char* text) : text_(text != nullptr ? text : "") {}

std::string CDBVar::ToString() const {
  const std::string::size_type last = text_.find_last_not_of(' ');
  if (last == std::string::npos) return text_;
  return text_.substr(0, last + 1);
}

int32_t CDBVar::ToInt() const {
  const char* p = text_.c_str();
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Accumulated as a negative number, whose range reaches INT32_MIN.
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 - (*p - '0');
    if (value < kMin) value = kMin - 1;  // stays below the range
  }
  if (negative) return static_cast<int32_t>(value < kMin ? kMin : value);
  return value < -int64_t{std::numeric_limits<int32_t>::max()}
             ? std::numeric_limits<int32_t>::max()
             : static_cast<int32_t>(-value);
}

double CDBVar::ToDouble() const {
  // strtod in the C locale: the decimal point stays '.' even when the
  // program has set a locale that writes ','.
  const locale_t c_locale = CLocale();
  if (c_locale == static_cast<locale_t>(0)) return strtod(text_.c_str(), nullptr);
  return strtod_l(text_.c_str(), nullptr, c_locale);
}

int32_t CDBVar::ToDate() const {
  CDate date;
  if (!date.Parse(text_)) return 0;
  return static_cast<int32_t>(date.ToNumber());
}
