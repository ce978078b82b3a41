#include "support/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
