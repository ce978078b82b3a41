#ifndef TICKORA_SUPPORT_TEXT_H_
#define TICKORA_SUPPORT_TEXT_H_

#include <string>
#include <vector>

// Small byte-string helpers shared by every folder. They know nothing of
// character sets: a CP932 lead byte is an ordinary byte to them, so callers
// choose delimiters that cannot be a trail byte (all ASCII below 0x40 is safe).

// Formats printf-style through a 1024-byte work area, in the "C" locale
// (a decimal point, never a comma, whatever the process locale). A text
// that would need 1024 bytes or more is cut to 1023 bytes; callers keep
// their formats well below that.
std::string StringFormat(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// Splits text at any byte of `delimiters`. A run of delimiters counts as
// one, and empty fields vanish: ",a,,b," with "," gives {"a", "b"}.
std::vector<std::string> StringSplit(const std::string& text,
                                     const std::string& delimiters);

// Joins the parts with one separator byte between neighbours, none at the
// ends.
std::string StringJoin(const std::vector<std::string>& parts, char separator);

// Removes blanks, carriage returns, line feeds and tabs at both ends.
std::string StringTrim(const std::string& text);

#endif  // TICKORA_SUPPORT_TEXT_H_
