#include "support/value.h"

#include <charconv>
#include <cmath>


namespace {

const char kNullText[] = "(null)";

}  // namespace

CValue::CValue(const std::string& text)
    : text_(text), is_text_(true), is_null_(text == kNullText) {
  if (is_null_) text_.clear();
}

CValue::CValue(const char* text)
    : CValue(text == nullptr ? std::string(kNullText) : std::string(text)) {}

CValue::CValue(double number) : number_(number), is_null_(false) {}

std::string CValue::ToString() const {
  if (is_null_) return kNullText;
  if (is_text_) return text_;
  double whole;
  // std::modf gives a NaN fraction for NaN and zero for the infinities, so
  // NaN takes six decimals and the infinities none; both print as
  // "nan"/"inf". std::to_chars writes what printf's "%.0f" and "%f" write,
  // but never takes the decimal separator from the locale.
  const int decimals = std::modf(number_, &whole) == 0.0 ? 0 : 6;
  char text[400];  // the longest "%f" of a double is about 320 bytes
  const auto result = std::to_chars(text, text + sizeof text, number_,
                                    std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

bool CValue::operator==(const CValue& other) const {
  if (is_null_ || other.is_null_) return is_null_ == other.is_null_;
  if (is_text_ != other.is_text_) return false;
  return is_text_ ? text_ == other.text_ : number_ == other.number_;
}
