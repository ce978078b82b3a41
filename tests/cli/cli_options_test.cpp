#include "app/cli/cli_options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/cli/progress_line.h"
#include "tests/common/temp_dir.h"

namespace {

// Each command line gives its options, shown as the year, the gap
// tolerance, then as 0/1: etf reit prime standard growth other, splits
// margin archive quiet; or the error that names its cause.
TEST(CliOptionsTest, ValuesKindsFlagsAndErrors) {
  TempDir dir;
  const std::string folder = dir.Sub("db");
  std::ofstream(dir.Sub("file")) << "x";
  const struct {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{folder}, "2010 20 001000 1010"},
      {{"--from-year", "2026", "--kinds=etf,growth,other", folder}, "2026 20 100011 1010"},
      {{"--no-splits", "--margin", "--no-archive", "--quiet", "--gap-tolerance=0", folder},
       "2010 0 001000 0101"},
      {{"--kinds", "reit,standard,reit", folder, "--from-year=2000"}, "2000 20 010100 1010"},
      {{}, "no database FOLDER given (see --help)"},
      {{folder, "other"}, "only one FOLDER may be given"},
      {{"--from-year", "1999", folder}, "--from-year must be a year from 2000 to 2026, not '1999'"},
      {{"--from-year=2027", folder}, "--from-year must be a year from 2000 to 2026, not '2027'"},
      {{folder, "--from-year"}, "--from-year needs a value"},
      {{"--kinds", "etf,bonds", folder},
       "unknown kind 'bonds' (kinds: etf,reit,prime,standard,growth,other)"},
      {{"--kinds=", folder}, "--kinds needs at least one of etf,reit,prime,standard,growth,other"},
      {{"--gap-tolerance", "-1", folder},
       "--gap-tolerance must be a whole number of 0 or more, not '-1'"},
      {{"--margin=yes", folder}, "--margin takes no value"},
      {{"--fast", folder}, "unknown option '--fast' (see --help)"},
      {{"-x", folder}, "unknown option '-x' (see --help)"},
      {{dir.Sub("file")}, "'" + dir.Sub("file") + "' exists and is not a folder"},
      {{dir.Sub("none/db")}, "the folder above '" + dir.Sub("none/db") + "' does not exist"},
  };
  for (const auto& c : cases) {
    CCliOptions o;
    std::string got;
    if (ParseCliOptions(c.args, 2026, o, got)) {
      EXPECT_EQ(folder, o.folder);
      got = std::to_string(o.fromYear) + " " + std::to_string(o.gapTolerance) + " ";
      for (bool flag : {o.etf, o.reit, o.prime, o.standard, o.growth, o.other}) got += "01"[flag];
      got += ' ';
      for (bool flag : {o.splits, o.margin, o.archive, o.quiet}) got += "01"[flag];
    }
    EXPECT_EQ(c.expected, got);
  }
  CCliOptions o;
  std::string error;
  EXPECT_FALSE(ParseCliOptions({"--bogus-later", "--help"}, 2026, o, error));
  EXPECT_TRUE(ParseCliOptions({"--help", "--bogus-later"}, 2026, o, error) && o.help);
}

TEST(ProgressLineTest, LineShowsStageBarTimesFitsTheTerminalAndHoldsNoControlCharacter) {
  EXPECT_EQ(-1, RemainingSeconds(10, 0, 100));
  EXPECT_EQ(
      "(3) 株価データのダウンロード [#####...............]  25% 25/100 0:00:10 残り 0:00:30 "
      "銘柄",
      FormatProgressLine(3, 25, 100, 10, "銘柄", 20, 200));
  const std::string line = FormatProgressLine(1, 3, 4, 1, std::string(100, 'x') + "漢字", 10, 60);
  EXPECT_LE(DisplayWidth(line), 60u);
  EXPECT_EQ(4u, DisplayWidth("漢字"));
  EXPECT_EQ("漢", CutToWidth("漢字", 3));  // never half a character
  EXPECT_EQ("ab", CutToWidth("ab\xE6", 5).substr(0, 2));

  // Text from servers reaches the terminal without a control character: no
  // escape sequence can set the window title, move the cursor or recolour.
  const std::string hostile = "7203\x1b]0;owned\x07\x1b[31mred\r\x7f\x1b[2J end\nnext";
  EXPECT_EQ("7203?]0;owned??[31mred???[2J end?next", TerminalText(hostile));
  EXPECT_EQ("a\nb", TerminalText("a\nb", true));
}

}  // namespace
