#include "support/text.h"

#include <cstdarg>
#include <cstdio>

#include "support/c_locale.h"

std::string StringFormat(const char* format, ...) {
  char work[1024];
  const CCLocaleScope c_locale;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(work, sizeof work, format, args);
  va_end(args);
  if (n < 0) return std::string();
  return std::string(work);
}

std::vector<std::string> StringSplit(const std::string& text,
                                     const std::string& delimiters) {
  std::vector<std::string> parts;
  std::string::size_type pos = 0;
  while (pos < text.size()) {
    pos = text.find_first_not_of(delimiters, pos);
    if (pos == std::string::npos) break;
    std::string::size_type end = text.find_first_of(delimiters, pos);
    if (end == std::string::npos) end = text.size();
    parts.emplace_back(text, pos, end - pos);
    pos = end;
  }
  return parts;
}

std::string StringJoin(const std::vector<std::string>& parts, char separator) {
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined.push_back(separator);
    joined += parts[i];
  }
  return joined;
}

std::string StringTrim(const std::string& text) {
  static const char kBlanks[] = " \r\n\t";
  std::string::size_type first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  std::string::size_type last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}
