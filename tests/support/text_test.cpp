#include "support/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Parts = std::vector<std::string>;

TEST(StringSplitJoinTest, RunsOfDelimitersCountAsOneEmptyFieldsVanishJoinPutsOneBetween) {
  EXPECT_EQ((Parts{"a", "b"}), StringSplit(",a,,b,", ","));
  EXPECT_EQ((Parts{"2024", "3", "15"}), StringSplit("2024/3-15", "/-"));
  EXPECT_EQ(Parts{}, StringSplit("", ","));
  EXPECT_EQ(Parts{}, StringSplit(",,,", ","));
  EXPECT_EQ(Parts{"abc"}, StringSplit("abc", ""));
  // A CP932 text split at an ASCII delimiter keeps its double-byte
  // characters whole.
  EXPECT_EQ((Parts{"東証", "東証プライム"}), StringSplit("東証;東証プライム", ";"));
  EXPECT_EQ("|a|a;;b", StringJoin({}, ';') + "|" + StringJoin({"a"}, ';') + "|" +
                           StringJoin({"a", "", "b"}, ';'));
}

TEST(StringTrimTest, TrimsBlanksLineEndsAndTabsAtBothEndsOnly) {
  EXPECT_EQ("a b", StringTrim(" \t\r\na b\n\r\t "));
  EXPECT_EQ("", StringTrim(" \t\r\n"));
  EXPECT_EQ("", StringTrim(""));
  EXPECT_EQ("x", StringTrim("x"));
  // Other control bytes and full-width blanks are content.
  EXPECT_EQ("\vx\f", StringTrim("\vx\f"));
  EXPECT_EQ("　x", StringTrim("　x "));
}
