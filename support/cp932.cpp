#include "support/cp932.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>

#include <cstring>
#include <vector>

namespace {

// Bytes of the UTF-8 sequence that starts at p: a lead byte and the
// continuation bytes that follow it, at most as many as the lead byte
// announces. A cut or broken sequence is thereby skipped as one unit, and a
// byte that cannot start a sequence as one byte.
std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t left) {
  unsigned char b = p[0];
  std::size_t n;
  if (b >= 0xC2 && b <= 0xDF) n = 2;
  else if (b >= 0xE0 && b <= 0xEF) n = 3;
  else if (b >= 0xF0 && b <= 0xF4) n = 4;
  else return 1;
  std::size_t length = 1;
  while (length < n && length < left && (p[length] & 0xC0) == 0x80) ++length;
  return length;
}

// True when the byte can be the second byte of a two-byte CP932 character
// (0x40-0x7E, 0x80-0xFC).
bool IsCp932TrailByte(unsigned char byte) {
  return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

// Bytes to skip in `from` after an unconvertible or invalid sequence. A
// lead byte takes the byte after it only when that byte can be a trail
// byte: an apostrophe, a comma or a line end after a lone lead byte stays
// itself, so a text that ends in a lead byte cannot swallow the quote that
// closes it in a statement.
std::size_t SkipLength(bool from_utf8, const unsigned char* p,
                       std::size_t left) {
  if (from_utf8) {
    return Utf8SequenceLength(p, left);
  }
  return (IsCp932LeadByte(p[0]) && left >= 2 && IsCp932TrailByte(p[1])) ? 2
                                                                        : 1;
}

// Converts with the open descriptor `cd`, replacing every sequence that
// cannot be converted by "?". `from_utf8` tells how to find the extent of
// such a sequence. The descriptor is left in its initial state.
std::string ConvertWith(iconv_t cd, bool from_utf8, const std::string& input) {
  std::string output;
  output.reserve(input.size() * 2);
  std::vector<char> area(input.size() * 3 + 16);
  char* in = const_cast<char*>(input.data());
  std::size_t in_left = input.size();
  while (in_left > 0) {
    char* out = area.data();
    std::size_t out_left = area.size();
    std::size_t rc = iconv(cd, &in, &in_left, &out, &out_left);
    int err = errno;
    output.append(area.data(), area.size() - out_left);
    if (rc != static_cast<std::size_t>(-1)) break;
    if (err == E2BIG) continue;
    // EILSEQ (invalid or not representable) and EINVAL (cut at the end).
    std::size_t skip = SkipLength(
        from_utf8, reinterpret_cast<const unsigned char*>(in), in_left);
    in += skip;
    in_left -= skip;
    output.push_back('?');
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return output;
}

std::string Convert(const char* to, const char* from, bool from_utf8,
                    const std::string& input) {
  if (input.empty()) return std::string();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return input;
  std::string output = ConvertWith(cd, from_utf8, input);
  iconv_close(cd);
  return output;
}

}  // namespace

bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string Cp932FromUtf8(const std::string& utf8) {
  return Convert("CP932", "UTF-8", true, utf8);
}

CCp932FromUtf8::CCp932FromUtf8()
    : cd_(reinterpret_cast<void*>(iconv_open("CP932", "UTF-8"))) {}

CCp932FromUtf8::~CCp932FromUtf8() {
  if (cd_ != reinterpret_cast<void*>(-1)) iconv_close(reinterpret_cast<iconv_t>(cd_));
}

std::string CCp932FromUtf8::Convert(const std::string& utf8) {
  if (utf8.empty()) return std::string();
  if (cd_ == reinterpret_cast<void*>(-1)) return utf8;  // as Cp932FromUtf8 does
  return ConvertWith(reinterpret_cast<iconv_t>(cd_), true, utf8);
}

std::string Utf8FromCp932(const std::string& cp932) {
  return Convert("UTF-8", "CP932", false, cp932);
}

void PrintCp932(std::FILE* out, const std::string& cp932) {
  const char* charset = nl_langinfo(CODESET);
  std::string text;
  // The C locale reports ASCII ("ANSI_X3.4-1968"); a terminal that shows
  // Japanese is UTF-8, so that is what an unset locale gets.
  if (charset == nullptr || *charset == '\0' ||
      std::strcmp(charset, "ANSI_X3.4-1968") == 0 ||
      std::strcmp(charset, "UTF-8") == 0) {
    text = Utf8FromCp932(cp932);
  } else {
    text = Convert(charset, "CP932", false, cp932);
  }
  std::fwrite(text.data(), 1, text.size(), out);
}
