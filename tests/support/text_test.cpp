#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/cp932.h"
#include "support/text.h"

// This file is compiled with CP932 literals; UTF-8 expectations are written
// as byte escapes.

TEST(Cp932Test, ConvertsBothWaysAndReplacesWhatHasNoForm) {
  const std::string cp932 = "銘柄コード 東証プライム ｶﾀｶﾅ ①";
  const std::string utf8 = Utf8FromCp932(cp932);
  EXPECT_EQ(cp932, Cp932FromUtf8(utf8));
  // 表 ends with 0x5C in CP932, the byte of a backslash.
  EXPECT_EQ("\x95\x5C", std::string("表"));
  EXPECT_EQ("\xE8\xA1\xA8", Utf8FromCp932("表"));
  // {UTF-8, CP932}: ASCII and NUL pass, U+1F600 and U+00E9 have no CP932
  // form, a stray continuation byte and a cut sequence become one "?".
  const std::pair<std::string, std::string> kToCp932[] = {
      {"", ""}, {"abc 123 ,.;/", "abc 123 ,.;/"}, {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"a\xF0\x9F\x98\x80" "b\xC3\xA9" "c", "a?b?c"}, {"\x80x\xE3\x81", "?x?"}};
  for (const auto& [from, to] : kToCp932) EXPECT_EQ(to, Cp932FromUtf8(from)) << from;
  // A CP932 lead byte cut off at the end of the text.
  EXPECT_EQ("ab?", Utf8FromCp932("ab\x82"));
  EXPECT_EQ("abc", Utf8FromCp932("abc"));
  EXPECT_TRUE(IsCp932LeadByte(0x81) && IsCp932LeadByte(0xFC));
  EXPECT_FALSE(IsCp932LeadByte(0xA0) || IsCp932LeadByte('A'));
}

// A byte that cannot be the second byte of a character (below 0x40, 0x7F,
// above 0xFC) stays a character of its own after a lead byte: the lead byte
// alone becomes "?", and an apostrophe after it keeps closing its text.
TEST(Cp932Test, ALeadByteNeverTakesAByteThatCannotBeATrailByte) {
  std::vector<int> not_trail = {0x7F, 0xFD, 0xFE, 0xFF};
  for (int b = 0x01; b < 0x40; ++b) not_trail.push_back(b);
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    if (!IsCp932LeadByte(static_cast<unsigned char>(lead))) continue;
    for (int b : not_trail) {
      const std::string second(1, static_cast<char>(b));
      const std::string text = "x" + std::string(1, static_cast<char>(lead)) + second + "'";
      EXPECT_EQ("x?" + Utf8FromCp932(second) + "'", Utf8FromCp932(text))
          << std::hex << lead << " " << b;
    }
  }
  // A real trail byte still makes one character with its lead byte, known
  // or not.
  EXPECT_EQ("\xE3\x81\x82'", Utf8FromCp932("\x82\xA0'"));
  EXPECT_EQ("?'", Utf8FromCp932("\x85\x40'"));
}

using Parts = std::vector<std::string>;

// Runs of delimiters count as one and empty fields vanish; a CP932 text
// split at an ASCII delimiter keeps its double-byte characters whole. Trim
// takes blanks, line ends and tabs at both ends only: other control bytes
// and full-width blanks are content.
TEST(StringTest, SplitJoinAndTrim) {
  const struct { const char* text; const char* delimiters; Parts parts; } kSplits[] = {
      {",a,,b,", ",", {"a", "b"}}, {"2024/3-15", "/-", {"2024", "3", "15"}}, {"", ",", {}},
      {",,,", ",", {}}, {"abc", "", {"abc"}}, {"東証;東証プライム", ";", {"東証", "東証プライム"}}};
  for (const auto& c : kSplits) EXPECT_EQ(c.parts, StringSplit(c.text, c.delimiters)) << c.text;
  EXPECT_EQ("|a|a;;b", StringJoin({}, ';') + "|" + StringJoin({"a"}, ';') + "|" +
                           StringJoin({"a", "", "b"}, ';'));
  const std::pair<const char*, const char*> kTrims[] = {
      {" \t\r\na b\n\r\t ", "a b"}, {" \t\r\n", ""}, {"", ""}, {"x", "x"}, {"\vx\f", "\vx\f"},
      {"　x ", "　x"}};
  for (const auto& [text, trimmed] : kTrims) EXPECT_EQ(trimmed, StringTrim(text)) << text;
}
