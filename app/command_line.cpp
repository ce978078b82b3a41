#include "app/command_line.h"

#include <cctype>
#include <cstdint>
#include <limits>

std::int32_t ReadSignedDecimal(const std::string& word) {
  std::size_t i = 0;
  while (i < word.size() && std::isspace(static_cast<unsigned char>(word[i]))) {
    ++i;
  }
  bool negative = false;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) {
    negative = word[i] == '-';
    ++i;
  }
  // Accumulate in 64 bits and stop growing once past the 32-bit range, so a
  // long run of digits cannot overflow.
  constexpr std::int64_t kLimit =
      static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  std::int64_t value = 0;
  for (; i < word.size() && std::isdigit(static_cast<unsigned char>(word[i]));
       ++i) {
    if (value <= kLimit) value = value * 10 + (word[i] - '0');
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

CWizardCommandLine ParseWizardCommandLine(
    const std::vector<std::string>& words) {
  CWizardCommandLine line;
  if (!words.empty()) line.folderOverride = words[0];
  if (words.size() >= 2) line.gapTolerance = ReadSignedDecimal(words[1]);
  return line;
}

CWizardCommandLine ParseWizardCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  return ParseWizardCommandLine(words);
}
