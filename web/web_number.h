#ifndef TICKORA_WEB_WEB_NUMBER_H_
#define TICKORA_WEB_WEB_NUMBER_H_

#include <cstdint>
#include <string>

// Figures as finance pages print them ("1,234,567", " 12.50", "3,120円").
// Both readers skip leading blanks, then gather digits (and, for the
// floating reader, "."), passing over "," thousands separators, up to the
// first other byte, and convert what they gathered; nothing gathered gives
// 0. A sign is not a digit: "-12.5" gives 0, and "+3" gives 0 as well.
// Callers that want the magnitude of a signed figure pass the text from its
// first digit.
//
// Any bytes are safe. A gathering too large for the result is clamped:
// ParseWebInt gives INT32_MAX for more than 2147483647, ParseWebDouble the
// largest finite double for a figure beyond it. Neither uses the process
// locale.

[[nodiscard]] std::int32_t ParseWebInt(const std::string& text);
double ParseWebDouble(const std::string& text);

#endif  // TICKORA_WEB_WEB_NUMBER_H_
