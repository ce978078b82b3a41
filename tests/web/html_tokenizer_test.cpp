#include "web/html_tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "series/buffer_file.h"
#include "series/buffer_string.h"
#include "tests/common/temp_dir.h"
#include "tests/web/page_fixture.h"

namespace {

// Every token as "kind text|", e.g. "1 a|".
std::string Tokens(const std::string& page, CBuffer&& buffer = CBufferString()) {
  FillBuffer(buffer, page);
  CHtmlTokenizer tokenizer;
  if (!tokenizer.Open(buffer)) return "not opened";
  int32_t kind = -1;
  std::string text, tokens;
  while (tokenizer.Next(kind, text)) tokens += std::to_string(kind) + " " + text + "|";
  return tokens;
}

}  // namespace

TEST(HtmlTokenizerTest, EveryInputGivesATokenStream) {
  const std::pair<const char*, const char*> cases[] = {
      {"<a href=\"x\">Go</a>", "1 a|3 href|4 x|6 Go|2 a|"}, {"<input disabled>", "1 input|3 disabled|"},
      // A name without a value, a spaced "=", an "=" without a value.
      {"<p a b = 'v' c=\"v\" d=><i>", "1 p|3 a|3 b|4 v|3 c|4 v|3 d|1 i|"},
      // Either quote ends a quoted value; what follows starts a new name.
      {"<a t=\"it's\"><b>", "1 a|3 t|4 it|3 s\"|1 b|"},
      {"</div ><p>", "1 div|1 p|"}, {"< / x>", "2 x|"},  // end tags with blanks
      {"<!-- note -->", "5 note|"}, {"<!--a-b -- >c ---->", "5 a-b -- >c|"},
      // A "D" in either case makes a declaration, which ends at the first ">".
      {"<!DOCTYPE html>", "0 DOCTYPE html|"}, {"<!doctype html><p>x</p>", "0 doctype html|1 p|6 x|2 p|"},
      {"<!-- Data -->", "0 Data --|"}, {"<!-- data > x --><p>", "0 data |6 x -->|1 p|"},
      {"<!-- note d -->", "5 note d|"}, {"<!>x<b>", "6 >x|1 b|"},
      {"a\r\nb<p>", "6 ab|1 p|"}, {"a\r\nb<", "6 ab|"}, {"x < 5 y<b>", "6 x |6 5 y|1 b|"},
      {"  \ta\tb <td\tc=1>", "6 a b |1 td|3 c|4 1|"}, {"<a h\nr=\"x\r\n y\">", "1 a|3 hr|4 x y|"},
      {"<br/>x<p>", "6 br/>x|1 p|"},  // a self-closing tag is text
      {"<1<<b><i>", "6 1|6 <b>|1 i|"}, {"<</<b>", "6 </|1 b|"},
      // Text after the last tag is never delivered; input that ends in a
      // tag turns the token delivered last into text.
      {"</html>\n", "2 html|"}, {"<p>trailing text", "1 p|"}, {"<a href=\"x\"", "1 a|3 href|6 x|"},
      {"<a href=x", "1 a|3 href|"}, {"<a ", "6 a|"}, {"<p x ", "1 p|6 x|"},
      {"<p x \n", "1 p|3 x|"},  // a line end is still input
      {"<p x \xff", "1 p|6 x|"}, {"<!-- never closed", ""}, {"", ""},
      // A byte 0xFF ends the input; CP932 bytes are never letters.
      {"<a>x\xff<b>y</b>", "1 a|"}, {"\x82\xa0<\x8c\x9f<b>", "6 \x82\xa0|6 \x8c\x9f|1 b|"},
  };
  for (const auto& [page, tokens] : cases) EXPECT_EQ(tokens, Tokens(page)) << page;
}

// A file buffer keeps a zero byte as it is.
TEST(HtmlTokenizerTest, AnyBytesAreTakenInOnePass) {
  TempDir dir;
  EXPECT_EQ(std::string("1 p|6 \x01\0\x80\xfe|1 i|", 15),
            Tokens(std::string("<p>\x01\0\x80\xfe<i>tail\xff<b>", 18), CBufferFile(dir.Sub("page.html"))));
  // 2 MB of "<": every second one starts a text that the next one ends.
  std::string expected;
  for (int i = 1; i < 1 << 20; ++i) expected += "6 <|";
  EXPECT_TRUE(Tokens(std::string(2 << 20, '<')) == expected);
}
