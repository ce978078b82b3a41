#ifndef TICKORA_SUPPORT_CP932_H_
#define TICKORA_SUPPORT_CP932_H_

#include <cstdio>
#include <string>

// Conversion between the system's internal text (CP932 bytes) and UTF-8,
// the encoding of web pages, SQLite and the terminal. Both directions use
// glibc iconv. Neither ever fails: a character the target cannot hold, and
// any byte sequence that is not valid in the source, become "?" and the
// conversion goes on with the next byte. A CP932 lead byte followed by a
// byte that cannot be a trail byte (below 0x40, 0x7F, above 0xFC) is one
// such sequence on its own: the byte after it is converted as itself, so an
// apostrophe after a stray lead byte stays an apostrophe.

std::string Cp932FromUtf8(const std::string& utf8);
std::string Utf8FromCp932(const std::string& cp932);

// Cp932FromUtf8 for many short texts in a row: the conversion is set up
// once, by the constructor, instead of once a text. Convert gives exactly
// what Cp932FromUtf8 gives. One thread at a time; not copyable.
class CCp932FromUtf8 {
 public:
  CCp932FromUtf8();
  ~CCp932FromUtf8();
  CCp932FromUtf8(const CCp932FromUtf8&) = delete;
  CCp932FromUtf8& operator=(const CCp932FromUtf8&) = delete;

  std::string Convert(const std::string& utf8);

 private:
  void* cd_;  // the iconv descriptor, (void*)-1 when it could not be opened
};

// True when the byte is the first byte of a two-byte CP932 character
// (0x81-0x9F, 0xE0-0xFC).
[[nodiscard]] bool IsCp932LeadByte(unsigned char byte);

// Converts CP932 text to the charset of the current locale (as set by
// setlocale; UTF-8 when the locale names no charset or cannot convert)
// and writes it to `out`. Used by diagnostic dumps and the command line.
void PrintCp932(std::FILE* out, const std::string& cp932);

#endif  // TICKORA_SUPPORT_CP932_H_
