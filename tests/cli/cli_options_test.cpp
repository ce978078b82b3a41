#include "app/cli/cli_options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/cli/progress_line.h"
#include "tests/common/temp_dir.h"

namespace {

TEST(CliOptionsTest, ValuesKindsAndFlags) {
  TempDir dir;
  const std::string folder = dir.Sub("db");
  const struct {
    std::vector<std::string> args;
    int year, gap;
    const char* kinds;  // etf reit prime standard growth other, as 0/1
    bool splits, margin, archive, quiet;
  } cases[] = {
      {{folder}, 2010, 20, "001000", true, false, true, false},
      {{"--from-year", "2026", "--kinds=etf,growth,other", folder}, 2026, 20, "100011", true,
       false, true, false},
      {{"--no-splits", "--margin", "--no-archive", "--quiet", "--gap-tolerance=0", folder}, 2010,
       0, "001000", false, true, false, true},
      {{"--kinds", "reit,standard,reit", folder, "--from-year=2000"}, 2000, 20, "010100", true,
       false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    CCliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(c.args, 2026, o, error)) << error;
    EXPECT_EQ(folder, o.folder);
    EXPECT_EQ(c.year, o.fromYear);
    EXPECT_EQ(c.gap, o.gapTolerance);
    const std::string kinds = {char('0' + o.etf), char('0' + o.reit), char('0' + o.prime),
                               char('0' + o.standard), char('0' + o.growth), char('0' + o.other)};
    EXPECT_EQ(c.kinds, kinds);
    EXPECT_EQ(c.splits, o.splits);
    EXPECT_EQ(c.margin, o.margin);
    EXPECT_EQ(c.archive, o.archive);
    EXPECT_EQ(c.quiet, o.quiet);
  }
}

TEST(CliOptionsTest, ErrorsNameTheirCause) {
  TempDir dir;
  const std::string folder = dir.Sub("db");
  std::ofstream(dir.Sub("file")) << "x";
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{}, "no database FOLDER given (see --help)"},
      {{folder, "other"}, "only one FOLDER may be given"},
      {{"--from-year", "1999", folder}, "--from-year must be a year from 2000 to 2026, not '1999'"},
      {{"--from-year=2027", folder}, "--from-year must be a year from 2000 to 2026, not '2027'"},
      {{folder, "--from-year"}, "--from-year needs a value"},
      {{"--kinds", "etf,bonds", folder}, "unknown kind 'bonds' (kinds: etf,reit,prime,standard,growth,other)"},
      {{"--kinds=", folder}, "--kinds needs at least one of etf,reit,prime,standard,growth,other"},
      {{"--gap-tolerance", "-1", folder}, "--gap-tolerance must be a whole number of 0 or more, not '-1'"},
      {{"--margin=yes", folder}, "--margin takes no value"},
      {{"--fast", folder}, "unknown option '--fast' (see --help)"},
      {{"-x", folder}, "unknown option '-x' (see --help)"},
      {{dir.Sub("file")}, "'" + dir.Sub("file") + "' exists and is not a folder"},
      {{dir.Sub("none/db")}, "the folder above '" + dir.Sub("none/db") + "' does not exist"},
  };
  for (const auto& c : cases) {
    CCliOptions o;
    std::string error;
    EXPECT_FALSE(ParseCliOptions(c.args, 2026, o, error)) << c.error;
    EXPECT_EQ(c.error, error);
  }
  CCliOptions o;
  std::string error;
  EXPECT_FALSE(ParseCliOptions({"--bogus-later", "--help"}, 2026, o, error));
  EXPECT_TRUE(ParseCliOptions({"--help", "--bogus-later"}, 2026, o, error) && o.help);
}

TEST(ProgressLineTest, LineShowsStageBarTimesAndFitsTheTerminal) {
  EXPECT_EQ("(3) 株価データのダウンロード", StageName(3));
  EXPECT_EQ(-1, RemainingSeconds(10, 0, 100));
  EXPECT_DOUBLE_EQ(30, RemainingSeconds(10, 25, 100));
  EXPECT_EQ(
      "(3) 株価データのダウンロード [#####...............]  25% 25/100 0:00:10 残り 0:00:30 "
      "銘柄",
      FormatProgressLine(3, 25, 100, 10, "銘柄", 20, 200));
  const std::string line = FormatProgressLine(1, 3, 4, 1, std::string(100, 'x') + "漢字", 10, 60);
  EXPECT_LE(DisplayWidth(line), 60u);
  EXPECT_EQ(4u, DisplayWidth("漢字"));
  EXPECT_EQ("漢", CutToWidth("漢字", 3));  // never half a character
  EXPECT_EQ("ab", CutToWidth("ab\xE6", 5).substr(0, 2));
}

}  // namespace

namespace {

// Text from servers reaches the terminal without a control character: no
// escape sequence can set the window title, move the cursor or recolour.
TEST(ProgressLineTest, ServerTextReachesTheTerminalWithoutControlCharacters) {
  const std::string hostile = "7203\x1b]0;owned\x07\x1b[31mred\r\x7f\x1b[2J end\nnext";
  EXPECT_EQ("7203?]0;owned??[31mred???[2J end?next", TerminalText(hostile));
  EXPECT_EQ("a\nb", TerminalText("a\nb", true));
}

}  // namespace
