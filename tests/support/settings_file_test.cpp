#include "support/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "support/text.h"
#include "tests/common/as_nobody.h"
#include "tests/common/decimal_comma_locale.h"
#include "tests/common/file_bytes.h"
#include "tests/common/temp_dir.h"

// Readable failure messages.
void PrintTo(const CValue& v, std::ostream* os) { *os << (v.IsText() ? "'" : "") << v.ToString(); }

namespace {

namespace fs = std::filesystem;
using Rows = CCsvFile::Rows;

class SettingsFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) { return WriteBytes(dir_.Sub(name), bytes); }
  std::string Read(const std::string& name) { return ReadBytes(dir_.Sub(name)); }
  TempDir dir_;
  CSettingsFile& settings_ = CSettingsFile::Instance();
};

TEST(ValueTest, StatesTextFormsAndEquality) {
  // Kind: 'n' null, 't' text, '#' number.
  const struct { CValue value; char kind; std::string text; } kCases[] = {
      {CValue(), 'n', "(null)"}, {CValue(std::string("(null)")), 'n', "(null)"},
      {CValue(static_cast<const char*>(nullptr)), 'n', "(null)"}, {CValue("(null)"), 'n', "(null)"},
      {CValue(""), 't', ""}, {CValue("(null) "), 't', "(null) "}, {CValue("ab"), 't', "ab"},
      {CValue(0), '#', "0"}, {CValue(-2.0), '#', "-2"}, {CValue(1e15), '#', "1000000000000000"},
      {CValue(2.5), '#', "2.500000"}, {CValue(1e-7), '#', "0.000000"},
      {CValue(std::nan("")), '#', "nan"}};
  for (const auto& [value, kind, text] : kCases) {
    EXPECT_EQ(value.IsNull() ? 'n' : value.IsText() ? 't' : value.IsNumber() ? '#' : '?', kind);
    EXPECT_EQ(value.ToString(), text);
  }
  EXPECT_EQ(CValue(), CValue("(null)"));
  EXPECT_FALSE(CValue("2") == CValue(2));
}

// Numbers written for a machine keep the decimal point whatever the locale
// of the process says.
TEST_F(SettingsFileTest, NumbersIgnoreADecimalCommaLocale) {
  DecimalCommaLocale locale;
  ASSERT_TRUE(locale.Active());
  EXPECT_EQ("2.50|12.500000|-0.125", StringFormat("%.2f|%f|%g", 2.5, 12.5, -0.125));
  ASSERT_TRUE(settings_.Load(Write("t.ini", "")));
  settings_.Section("S")["ratio"] = CValue(2.5);
  ASSERT_TRUE(settings_.Save());
  EXPECT_EQ("[S]\nratio,2.500000\n\n", Read("t.ini"));
}

TEST_F(SettingsFileTest, CsvReadsFieldsQuotesAndLineEnds) {
  // Every field reads as a text, "(null)" as null.
  const std::pair<std::string, Rows> cases[] = {
      {"a,,b,\n", {{"a", "", "b", ""}}}, {"\"ab\"cd,e\n", {{"ab", "e"}}},
      {"ab\"c\n", {{"ab\"c"}}}, {"\"x,\"\"y\"\"\"\n", {{"x,\"y\""}}},
      // After a closing quote other bytes are dropped, but a quote adds one
      // quote and quotes the field again.
      {"\"ab\"cd\"ef\",g\n", {{"ab\"ef", "g"}}}, {"\"a\"x\"b,c\"\n", {{"a\"b,c"}}},
      {"\"a\" \"\"b,\"\"\"\"\n", {{"a\"", "\""}}},
      {"\"a,b\n c\"\n", {{"a,b"}, {" c\""}}},  // a line end closes quotes
      {",\n\n(null)\n", {{"", ""}, {}, {"(null)"}}},
      {"a\r\nb\rc\n\r\r\n", {{"a"}, {"b"}, {"c"}, {}, {}}},
      {"a,b", {{"a", "b"}}}, {"a,", {{"a", ""}}}, {"\"a\"\"", {{"a\""}}},  // no final line end
      {"", {}}, {std::string("x\0y,z\n", 6), {{std::string("x\0y", 3), "z"}}}};
  for (const auto& [bytes, expected] : cases) {
    CCsvFile csv;
    ASSERT_TRUE(csv.Load(Write("in.csv", bytes)));
    EXPECT_EQ(csv.GetRows(), expected) << bytes;
  }
  // Written back, rows read as they were: the settings_file fuzz target
  // (written_back.ini holds a quote, a comma and a lone empty field).
}

TEST_F(SettingsFileTest, CsvFailuresLeaveNoRowsAndFilesAlone) {
  CCsvFile csv;
  EXPECT_FALSE(csv.Save());  // no path yet
  // Loading a missing file or a folder is the settings_file fuzz target's
  // part.
  csv.GetRows() = {{CValue("new")}};
  EXPECT_FALSE(csv.Save(dir_.Sub("no-folder/s.ini")));
  fs::create_directory(dir_.Sub("taken"));
  Write("taken/keep", "old");
  EXPECT_FALSE(csv.Save(dir_.Sub("taken")));
  EXPECT_EQ(Read("taken/keep"), "old");
}

// The file belongs to the charting application too: a save writes the file
// that the path names, as the file's own permissions allow, and leaves its
// links, owner and mode as they were.
TEST_F(SettingsFileTest, SaveKeepsToTheFilesOwnPermissionsAndLinks) {
  fs::permissions(dir_.path(), fs::perms::all);
  CCsvFile csv;
  csv.GetRows() = {{CValue("new")}};

  // A file that cannot be opened for writing is refused and left alone.
  const std::string locked = Write("locked.ini", "old\n");
  fs::permissions(locked, fs::perms(0444));
  EXPECT_FALSE(AsNobody([&] { return csv.Save(locked); }));
  EXPECT_EQ("old\n", Read("locked.ini"));

  // A writable file in a folder that cannot be written is written.
  fs::create_directory(dir_.Sub("closed"));
  const std::string open_file = Write("closed/open.ini", "old\n");
  fs::permissions(open_file, fs::perms(0666));
  // Owned by the saving user, so that a replacement is tried and refused.
  ASSERT_TRUE(geteuid() != 0 || chown(open_file.c_str(), 65534, 65534) == 0);
  fs::permissions(dir_.Sub("closed"), fs::perms(0555));
  EXPECT_TRUE(AsNobody([&] { return csv.Save(open_file); }));
  EXPECT_EQ("new\n", Read("closed/open.ini"));
  // A longer old content is cut to the new one.
  Write("closed/open.ini", "older and longer\n");
  EXPECT_TRUE(AsNobody([&] { return csv.Save(open_file); }));
  EXPECT_EQ("new\n", Read("closed/open.ini"));
  fs::permissions(dir_.Sub("closed"), fs::perms::all);

  // Hard and symbolic links keep naming the file that was saved.
  const std::string shared = Write("shared.ini", "old\n");
  fs::create_hard_link(shared, dir_.Sub("hard.ini"));
  ASSERT_TRUE(csv.Save(dir_.Sub("hard.ini")));
  EXPECT_EQ("new\n", Read("shared.ini"));
  fs::create_symlink("closed/open.ini", dir_.Sub("soft.ini"));
  csv.GetRows() = {{CValue("via link")}};
  ASSERT_TRUE(csv.Save(dir_.Sub("soft.ini")));
  EXPECT_EQ("via link\n", Read("closed/open.ini"));
  // No temporary file is left: locked, closed, shared, hard and soft.
  EXPECT_EQ(5, std::distance(fs::directory_iterator(dir_.path()), {}));

  if (geteuid() == 0) {
    // Saved by root, a file of another user stays that user's.
    const std::string theirs = Write("theirs.ini", "old\n");
    ASSERT_EQ(0, chown(theirs.c_str(), 65534, 65534));
    ASSERT_TRUE(csv.Save(theirs));
    struct stat after {};
    ASSERT_EQ(0, stat(theirs.c_str(), &after));
    EXPECT_EQ(65534u, after.st_uid);
    EXPECT_EQ("via link\n", Read("theirs.ini"));
  }
}

TEST_F(SettingsFileTest, LoadBuildsSectionsAndListsAndSaveRebuildsThemSorted) {
  ASSERT_TRUE(settings_.Load(Write("s.ini",
      "stray,row\n[B],extra\nk,1\nthree,fields,here\nn,(null)\nk,2\nonly\n[]\nx,y\n"
      "<L>\na,b\n\nc\n\n[A]\nk,1\n<>\n[A]\nj,2\n<L2>\n\n\n")));
  EXPECT_EQ(settings_.Sections(), (std::map<std::string, CSettingsFile::Keys>{
      {"A", {{"j", "2"}}}, {"B", {{"k", "2"}, {"n", CValue()}, {"x", "y"}}}}));
  EXPECT_EQ(settings_.Lists(), (std::map<std::string, Rows>{{"L", {{"a", "b"}, {}, {"c"}}},
                                                            {"L2", {{}}}}));
  // Lists with and without empty rows round trip in the settings_file fuzz
  // target.
  // A 10 MB last line with an unbalanced quote and no line end.
  ASSERT_TRUE(settings_.Load(Write("big.ini", "[S]\nk,\"" + std::string(10 << 20, 'x'))));
  EXPECT_EQ(settings_.Section("S")["k"].Text().size(), std::size_t{10} << 20);

  const std::string path = Write("s.ini",
      "<Z>\nr1\n\n[b]\ny,2\nx,1\n[設定]\nk,v\n[B]\nn,(null)\nbad\n");
  ASSERT_TRUE(settings_.Load(path));
  settings_.Section("X");
  settings_.Section("b")["z"] = "a,\"q\"";
  settings_.List("Y").push_back({CValue("[")});
  ASSERT_TRUE(settings_.Save());  // back to the loaded path
  // Unsigned byte order puts the CP932 name after every ASCII one.
  const std::string expected =
      "[B]\nn,(null)\n\n[X]\n\n[b]\nx,1\ny,2\nz,\"a,\"\"q\"\"\"\n\n[設定]\nk,v\n\n"
      "<Y>\n[\n\n<Z>\nr1\n\n";
  EXPECT_EQ(Read("s.ini"), expected);
}

}  // namespace
