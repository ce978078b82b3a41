#include "support/cp932.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

// This file is compiled with CP932 literals; UTF-8 expectations are written
// as byte escapes.

TEST(Cp932Test, RoundTripsJapaneseText) {
  const std::string cp932 = "銘柄コード 東証プライム ｶﾀｶﾅ ①";
  const std::string utf8 = Utf8FromCp932(cp932);
  EXPECT_NE(cp932, utf8);
  EXPECT_EQ(cp932, Cp932FromUtf8(utf8));
  // 表 ends with 0x5C in CP932, the byte of a backslash.
  EXPECT_EQ("\x95\x5C", std::string("表"));
  EXPECT_EQ("\xE8\xA1\xA8", Utf8FromCp932("表"));
}

TEST(Cp932Test, AsciiPassesThroughAndEmptyStaysEmpty) {
  EXPECT_EQ("", Cp932FromUtf8(""));
  EXPECT_EQ("", Utf8FromCp932(""));
  std::string ascii = "abc 123 ,.;/";
  EXPECT_EQ(ascii, Cp932FromUtf8(ascii));
  EXPECT_EQ(ascii, Utf8FromCp932(ascii));
  std::string with_nul("a\0b", 3);
  EXPECT_EQ(with_nul, Cp932FromUtf8(with_nul));
}

TEST(Cp932Test, UnrepresentableCharactersBecomeOneQuestionMarkEach) {
  // U+1F600 (emoji) and U+00E9 (e with acute) have no CP932 form.
  EXPECT_EQ("a?b?c", Cp932FromUtf8("a\xF0\x9F\x98\x80" "b\xC3\xA9" "c"));
}

TEST(Cp932Test, InvalidInputIsReplacedNotFatal) {
  // A stray continuation byte, a cut three-byte sequence at the end.
  EXPECT_EQ("?x?", Cp932FromUtf8("\x80x\xE3\x81"));
  // A CP932 lead byte cut off at the end of the text.
  EXPECT_EQ("ab?", Utf8FromCp932("ab\x82"));
  EXPECT_TRUE(IsCp932LeadByte(0x81));
  EXPECT_TRUE(IsCp932LeadByte(0xFC));
  EXPECT_FALSE(IsCp932LeadByte(0xA0));
  EXPECT_FALSE(IsCp932LeadByte('A'));
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

TEST(Cp932Test, RandomBytesNeverCrashAndStayBounded) {
  std::mt19937 rng(7);
  for (int round = 0; round < 500; ++round) {
    std::string bytes(rng() % 64, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    std::string a = Cp932FromUtf8(bytes);
    std::string b = Utf8FromCp932(bytes);
    EXPECT_LE(a.size(), bytes.size() * 2);
    EXPECT_LE(b.size(), bytes.size() * 3);
  }
}

// One open converter gives, text after text, what a fresh conversion
// gives: a cut or invalid text leaves nothing behind for the next one.
TEST(Cp932Test, KeptConverterMatchesOneShotConversion) {
  std::mt19937 rng(11);
  CCp932FromUtf8 converter;
  const std::string texts[] = {"\xE3\x81", "\xE6\x97\xA5", "", "\x80x\xE3\x81",
                               Utf8FromCp932("調整後終値*"), "abc"};
  for (const std::string& text : texts) EXPECT_EQ(converter.Convert(text), Cp932FromUtf8(text));
  for (int round = 0; round < 300; ++round) {
    std::string bytes(rng() % 32, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    EXPECT_EQ(converter.Convert(bytes), Cp932FromUtf8(bytes));
  }
}

TEST(Cp932Test, PrintWritesTheLocaleCharset) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  ASSERT_NE(nullptr, out);
  PrintCp932(out, "株");
  std::fclose(out);
  EXPECT_EQ("\xE6\xA0\xAA", std::string(data, size));
  std::free(data);
}
