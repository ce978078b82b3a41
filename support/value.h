#ifndef TICKORA_SUPPORT_VALUE_H_
#define TICKORA_SUPPORT_VALUE_H_

#include <string>

// CValue is one field of a comma-separated document: a CP932 text, a number
// or null. It owns a copy of its text and is an ordinary value type.
//
// The text "(null)" stands for null wherever a value is made from a text, so
// a null written to a file reads back as null; the price is that the text
// "(null)" itself cannot be stored. A default-constructed value is null.
class CValue {
 public:
  CValue() = default;
  // "(null)" gives a null value; any other text (the empty one included)
  // gives a text value.
  CValue(const std::string& text);
  // A null pointer or "(null)" gives a null value, anything else a text.
  CValue(const char* text);
  explicit CValue(double number);
  explicit CValue(int number) : CValue(static_cast<double>(number)) {}

  [[nodiscard]] bool IsNull() const { return is_null_; }
  [[nodiscard]] bool IsText() const { return !is_null_ && is_text_; }
  [[nodiscard]] bool IsNumber() const { return !is_null_ && !is_text_; }
  // The stored members as they are; meaningful only in the matching state.
  const std::string& Text() const { return text_; }
  double Number() const { return number_; }

  // The form written to files: "(null)" for null, the text itself, or the
  // number as "%.0f" writes it when its fractional part is zero and as "%f"
  // otherwise (not-a-number included), with a decimal point, never a
  // decimal comma, whatever the locale.
  std::string ToString() const;

  // Same state and same content. Numbers compare as doubles (so NaN is
  // unequal to itself); a text never equals a number.
  bool operator==(const CValue& other) const;

 private:
  std::string text_;
  double number_ = 0.0;
  bool is_text_ = false;
  bool is_null_ = true;
};

#endif  // TICKORA_SUPPORT_VALUE_H_
