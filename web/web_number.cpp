#include "web/web_number.h"

#include <charconv>
#include <limits>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The digits (and points, when `point` is true) from the first non-blank
// byte on, thousands separators left out.
std::string Gather(const std::string& text, bool point) {
  std::string gathered;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ',') continue;
    if (!IsDigit(c) && !(point && c == '.')) break;
    gathered += c;
  }
  return gathered;
}

}  // namespace

std::int32_t ParseWebInt(const std::string& text) {
  const std::string digits = Gather(text, false);
  if (digits.empty()) return 0;
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) return std::numeric_limits<std::int32_t>::max();
  return error == std::errc() ? value : 0;
}

double ParseWebDouble(const std::string& text) {
  const std::string digits = Gather(text, true);
  if (digits.empty()) return 0.0;
  // from_chars reads up to a second point ("1.2.3" is 1.2) and takes a
  // leading point (".5"); a lone "." reads nothing.
  double value = 0.0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) {
    // Beyond the range of a double: too large when the whole part holds a
    // digit other than 0, else too small (hundreds of zeros after the
    // point), which reads as 0.
    const std::string whole = digits.substr(0, digits.find('.'));
    return whole.find_first_not_of('0') != std::string::npos
               ? std::numeric_limits<double>::max()
               : 0.0;
  }
  return error == std::errc() ? value : 0.0;
}
