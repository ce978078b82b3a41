#ifndef TICKORA_WEB_URL_ENCODE_H_
#define TICKORA_WEB_URL_ENCODE_H_

#include <string>

// Form encoding of one name or value, byte by byte: ASCII letters, digits
// and the five characters "*-.@_" are copied, a blank becomes "+", and
// every other byte becomes "%" and its value in two upper-case hexadecimal
// digits. CP932 text is thereby encoded one byte at a time, as the servers
// of this system expect.
std::string UrlEncode(const std::string& text);

#endif  // TICKORA_WEB_URL_ENCODE_H_
