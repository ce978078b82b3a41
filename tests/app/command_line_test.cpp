#include "app/command_line.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(WizardCommandLineTest, FolderAndGapTolerance) {
  const struct {
    std::vector<std::string> words;
    std::string folder;
    std::int32_t gap;
  } cases[] = {
      {{}, "", 20},
      {{"/data/stock"}, "/data/stock", 20},
      {{"/data/stock", "30"}, "/data/stock", 30},
      {{"/data/My Data", "Data"}, "/data/My Data", 0},
      {{"/d", "12", "ignored"}, "/d", 12},
  };
  for (const auto& c : cases) {
    const CWizardCommandLine line = ParseWizardCommandLine(c.words);
    EXPECT_EQ(line.folderOverride, c.folder);
    EXPECT_EQ(line.gapTolerance, c.gap) << c.words.size();
  }
}

TEST(WizardCommandLineTest, ReadSignedDecimalLikeAtoi) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const std::pair<std::string, std::int32_t> cases[] = {
      {"", 0},          {"abc", 0},       {"-", 0},          {"- 5", 0},
      {"+12", 12},      {"-7x", -7},      {" \t 42 ", 42},   {"0030", 30},
      {"2147483647", kMax}, {"2147483648", kMax}, {"99999999999999999999", kMax},
      {"-2147483648", kMin}, {"-99999999999", kMin},
  };
  for (const auto& [word, expected] : cases) {
    EXPECT_EQ(ReadSignedDecimal(word), expected) << "'" << word << "'";
  }
}

}  // namespace
