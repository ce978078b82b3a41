#include "web/html_tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "series/buffer_file.h"
#include "series/buffer_string.h"
#include "tests/common/temp_dir.h"

namespace {

// Tokens as "kind text", e.g. "1 a".
std::vector<std::string> TokensOf(CBuffer& buffer) {
  CHtmlTokenizer tokenizer;
  std::vector<std::string> tokens;
  if (!tokenizer.Open(buffer)) return {"not opened"};
  int32_t kind = -1;
  std::string text;
  while (tokenizer.Next(kind, text)) tokens.push_back(std::to_string(kind) + " " + text);
  // The end stays the end.
  if (tokenizer.Next(kind, text)) tokens.push_back("after end");
  return tokens;
}

std::vector<std::string> Tokens(const std::string& page) {
  CBufferString buffer;
  CBuffer::Handle h = buffer.OpenWrite();
  buffer.Write(h, page.data(), static_cast<int32_t>(page.size()));
  buffer.Close(h);
  return TokensOf(buffer);
}

using V = std::vector<std::string>;

}  // namespace

TEST(HtmlTokenizerTest, TagsAttributesAndTexts) {
  EXPECT_EQ((V{"1 a", "3 href", "4 x", "6 Go", "2 a"}), Tokens("<a href=\"x\">Go</a>"));
  EXPECT_EQ((V{"1 td", "3 class", "4 num", "6 12", "2 td"}), Tokens("<td class=num>12</td>"));
  EXPECT_EQ((V{"1 input", "3 disabled"}), Tokens("<input disabled>"));
  // A name without a value, a spaced "=", an "=" without a value.
  EXPECT_EQ((V{"1 p", "3 a", "3 b", "4 v", "3 c", "4 v", "3 d", "1 i"}),
            Tokens("<p a b = 'v' c=\"v\" d=><i>"));
  // Either quote ends a quoted value; what follows starts a new name.
  EXPECT_EQ((V{"1 a", "3 t", "4 it", "3 s\"", "1 b"}), Tokens("<a t=\"it's\"><b>"));
  EXPECT_EQ((V{"1 h1", "6 T", "2 h1"}), Tokens("<h1>T</h1>"));
  // An end tag with a blank is delivered as a start tag.
  EXPECT_EQ((V{"1 div", "1 p"}), Tokens("</div ><p>"));
  EXPECT_EQ((V{"2 x"}), Tokens("< / x>"));
}

TEST(HtmlTokenizerTest, CommentsAndDeclarations) {
  EXPECT_EQ((V{"5 note"}), Tokens("<!-- note -->"));
  EXPECT_EQ((V{"5 a-b -- c"}), Tokens("<!--a-b -- c ---->"));
  EXPECT_EQ((V{"0 DOCTYPE html"}), Tokens("<!DOCTYPE html>"));
  // Only an upper-case D makes a declaration; anything else is a comment
  // that runs to the next "-->".
  EXPECT_EQ((V{"5 doctype html><p>x</p"}), Tokens("<!doctype html><p>x</p-->"));
  EXPECT_EQ((V{"0 Data --"}), Tokens("<!-- Data -->"));
  // "<!>" turns into text starting with the ">".
  EXPECT_EQ((V{"6 >x", "1 b"}), Tokens("<!>x<b>"));
}

TEST(HtmlTokenizerTest, BlanksAndLineEnds) {
  EXPECT_EQ((V{"6 ab", "1 p"}), Tokens("a\r\nb<p>"));
  EXPECT_EQ((V{"6 ab"}), Tokens("a\r\nb<"));
  EXPECT_EQ((V{"6 x ", "6 5 y", "1 b"}), Tokens("x < 5 y<b>"));
  EXPECT_EQ((V{"6 a b ", "1 td", "3 c", "4 1"}), Tokens("  \ta\tb <td\tc=1>"));
  EXPECT_EQ((V{"1 a", "3 hr", "4 x y"}), Tokens("<a h\nr=\"x\r\n y\">"));
}

TEST(HtmlTokenizerTest, BrokenMarkupDegradesIntoText) {
  // A self-closing tag becomes text up to the next "<".
  EXPECT_EQ((V{"6 br/>x", "1 p"}), Tokens("<br/>x<p>"));
  EXPECT_EQ((V{"6 1", "6 <b>", "1 i"}), Tokens("<1<<b><i>"));
  EXPECT_EQ((V{"6 </", "1 b"}), Tokens("<</<b>"));
  // Text after the last tag is never delivered.
  EXPECT_EQ((V{"2 html"}), Tokens("</html>\n"));
  EXPECT_EQ((V{"1 p"}), Tokens("<p>trailing text"));
  // Input that ends inside a tag: the token delivered last becomes text.
  EXPECT_EQ((V{"1 a", "3 href", "6 x"}), Tokens("<a href=\"x\""));
  EXPECT_EQ((V{"1 a", "3 href"}), Tokens("<a href=x"));
  EXPECT_EQ((V{"6 a"}), Tokens("<a "));
  EXPECT_EQ((V{"1 a"}), Tokens("<a>"));
  EXPECT_EQ(V{}, Tokens("<!-- never closed"));
  EXPECT_EQ(V{}, Tokens(""));
}

TEST(HtmlTokenizerTest, AnyBytesAreTakenInOnePass) {
  // A byte 0xFF is the end of the input, from a memory or a file buffer.
  EXPECT_EQ((V{"1 a"}), Tokens("<a>x\xff<b>y</b>"));
  TempDir dir;
  CBufferFile file(dir.Sub("page.html"));
  const std::string page("<p>\x01\0\x80\xfe<i>tail\xff<b>", 18);
  CBuffer::Handle h = file.OpenWrite();
  file.Write(h, page.data(), static_cast<int32_t>(page.size()));
  file.Close(h);
  EXPECT_EQ((V{"1 p", std::string("6 \x01\0\x80\xfe", 6), "1 i"}), TokensOf(file));
  // CP932 trail bytes and bytes above 0x7F are never letters.
  EXPECT_EQ((V{"6 \x82\xa0", "6 \x8c\x9f", "1 b"}), Tokens("\x82\xa0<\x8c\x9f<b>"));

  // 2 MB of "<": every second one starts a text that the next one ends.
  const std::string many(2 * 1024 * 1024, '<');
  CBufferString buffer;
  h = buffer.OpenWrite();
  buffer.Write(h, many.data(), static_cast<int32_t>(many.size()));
  buffer.Close(h);
  CHtmlTokenizer tokenizer;
  ASSERT_TRUE(tokenizer.Open(buffer));
  int32_t kind = -1;
  std::string text;
  size_t count = 0;
  bool all_text = true;
  while (tokenizer.Next(kind, text)) {
    ++count;
    all_text = all_text && kind == CHtmlTokenizer::kText && text == "<";
  }
  EXPECT_EQ(many.size() / 2 - 1, count);
  EXPECT_TRUE(all_text);
}

TEST(HtmlTokenizerTest, OpenRestartsAndClosedTokenizersDeliverNothing) {
  CBufferString first, second;
  CBuffer::Handle h = first.OpenWrite();
  first.Write(h, "<a href=", 8);
  first.Close(h);
  h = second.OpenWrite();
  second.Write(h, "<b>", 3);
  second.Close(h);

  CHtmlTokenizer tokenizer;
  int32_t kind = -1;
  std::string text = "stale";
  EXPECT_FALSE(tokenizer.Next(kind, text));
  EXPECT_EQ("", text);
  ASSERT_TRUE(tokenizer.Open(first));
  ASSERT_TRUE(tokenizer.Next(kind, text));
  EXPECT_EQ("a", text);
  // Opening again starts between tokens, whatever state was left.
  ASSERT_TRUE(tokenizer.Open(second));
  ASSERT_TRUE(tokenizer.Next(kind, text));
  EXPECT_EQ(CHtmlTokenizer::kStartTag, kind);
  EXPECT_EQ("b", text);
  tokenizer.Close();
  EXPECT_FALSE(tokenizer.Next(kind, text));
}

TEST(HtmlTokenizerTest, TokenTextsConvertFromUtf8WithoutCuts) {
  EXPECT_EQ("現在値", ConvertUtf8ToAnsi("\xe7\x8f\xbe\xe5\x9c\xa8\xe5\x80\xa4"));
  // A character CP932 cannot hold, and bytes that are not UTF-8.
  EXPECT_EQ("a?b", ConvertUtf8ToAnsi("a\xf0\x9f\x98\x80" "b"));
  EXPECT_EQ("?x", ConvertUtf8ToAnsi("\xff" "x"));
  EXPECT_EQ("", ConvertUtf8ToAnsi(""));
  // Far longer than any fixed area: every character arrives.
  std::string long_text;
  for (int i = 0; i < 60000; ++i) long_text += "\xe5\x80\xa4";  // 値
  const std::string converted = ConvertUtf8ToAnsi(long_text);
  ASSERT_EQ(120000u, converted.size());
  EXPECT_EQ("値", converted.substr(119998));
}
