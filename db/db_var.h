#ifndef TICKORA_DB_DB_VAR_H_
#define TICKORA_DB_DB_VAR_H_

#include <cstdint>
#include <string>

// CDBVar is one cell of a result set: the column's value as the database
// delivered it in character form (CP932). It owns a copy of the text; copy
// it freely. The conversions read the text and never change it, and none
// fails: a text that does not hold what is asked for gives 0 (or 0.0).
class CDBVar {
 public:
  CDBVar() = default;
  // The text up to its terminating NUL; nullptr gives an empty cell.
  explicit CDBVar(const char* text);
  CDBVar(const CDBVar&) = default;
  CDBVar& operator=(const CDBVar&) = default;
  virtual ~CDBVar() = default;

  const std::string& Text() const { return text_; }

  // The text without its trailing blanks (0x20). A text that is blank
  // throughout, or empty, comes back unchanged.
  std::string ToString() const;

  // The decimal integer at the start of the text, after white space and
  // with an optional sign; 0 when there is none. A value beyond the 32-bit
  // range gives the nearest end of the range.
  [[nodiscard]] int32_t ToInt() const;

  // The floating-point number at the start of the text as strtod reads it
  // (white space and a sign allowed, "1.5", "-2e3", "inf"); 0.0 when there
  // is none. The decimal point is always '.', whatever the locale says.
  double ToDouble() const;

  // The text read by the date parser (CDate::Parse) as a date number
  // (20240315 for "2024-03-15 00:00:00"); 0 when it is no date.
  [[nodiscard]] int32_t ToDate() const;

 private:
  std::string text_;
};

#endif  // TICKORA_DB_DB_VAR_H_
