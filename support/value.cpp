#include "support/value.h"

#include <cmath>

#include "support/text.h"

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
  // NaN takes "%f" and the infinities "%.0f"; both print as "nan"/"inf".
  // The longest "%f" of a double (about 320 bytes) fits the work area.
  if (std::modf(number_, &whole) == 0.0) return StringFormat("%.0f", number_);
  return StringFormat("%f", number_);
}

bool CValue::operator==(const CValue& other) const {
  if (is_null_ || other.is_null_) return is_null_ == other.is_null_;
  if (is_text_ != other.is_text_) return false;
  return is_text_ ? text_ == other.text_ : number_ == other.number_;
}
