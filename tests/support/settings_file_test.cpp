#include "support/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::vector<std::string>>;

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tickora-settings-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  static std::string Read(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
  }
  static Texts TextsOf(const CCsvFile::Rows& rows) {
    Texts texts;
    for (const auto& row : rows) {
      texts.emplace_back();
      for (const CValue& v : row) texts.back().push_back(v.ToString());
    }
    return texts;
  }
  fs::path dir_;
};

TEST(ValueTest, TextFormsAndNull) {
  EXPECT_TRUE(CValue().IsNull());
  EXPECT_TRUE(CValue(std::string("(null)")).IsNull());
  EXPECT_TRUE(CValue(static_cast<const char*>(nullptr)).IsNull());
  EXPECT_TRUE(CValue("").IsText());
  EXPECT_TRUE(CValue("(null) ").IsText());
  const std::pair<CValue, std::string> cases[] = {
      {CValue("(null)"), "(null)"}, {CValue("ab"), "ab"}, {CValue(0), "0"},
      {CValue(-2.0), "-2"}, {CValue(1e15), "1000000000000000"},
      {CValue(2.5), "2.500000"}, {CValue(1e-7), "0.000000"},
      {CValue(std::nan("")), "nan"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(value.ToString(), text);
  EXPECT_EQ(CValue(), CValue("(null)"));
  EXPECT_FALSE(CValue("2") == CValue(2));
}

TEST_F(SettingsFileTest, CsvReadsFieldsQuotesAndLineEnds) {
  const std::pair<std::string, Texts> cases[] = {
      {"a,,b,\n", {{"a", "", "b", ""}}},
      {"\"ab\"cd,e\n", {{"ab", "e"}}},
      {"ab\"c\n", {{"ab\"c"}}},
      {"\"x,\"\"y\"\"\"\n", {{"x,\"y\""}}},
      {"\"a,b\n c\"\n", {{"a,b"}, {" c\""}}},  // a line end closes quotes
      {",\n\n(null)\n", {{"", ""}, {}, {"(null)"}}},
      {"a\r\nb\rc\n\r\r\n", {{"a"}, {"b"}, {"c"}, {}, {}}},
      {"a,b", {{"a", "b"}}},  // no final line end
      {"a,", {{"a", ""}}},
      {"\"a\"\"", {{"a\""}}},
      {"", {}},
      {std::string("x\0y,z\n", 6), {{std::string("x\0y", 3), "z"}}}};
  for (const auto& [bytes, expected] : cases) {
    CCsvFile csv;
    ASSERT_TRUE(csv.Load(Write("in.csv", bytes)));
    EXPECT_EQ(TextsOf(csv.GetRows()), expected) << bytes;
  }
}

TEST_F(SettingsFileTest, CsvWritesQuotedFieldsThatReadBack) {
  CCsvFile csv;
  csv.GetRows() = {{CValue("x,\"y\""), CValue("plain"), CValue(""), CValue(1.0), CValue()},
                   {},
                   {CValue("")},
                   {CValue("\""), CValue(",")}};
  ASSERT_TRUE(csv.Save(Path("out.csv")));
  EXPECT_EQ(Read(Path("out.csv")), "\"x,\"\"y\"\"\",plain,,1,(null)\n\n\"\"\n\"\"\"\",\",\"\n");
  CCsvFile back;
  ASSERT_TRUE(back.Load(Path("out.csv")));
  EXPECT_EQ(TextsOf(back.GetRows()), TextsOf(csv.GetRows()));
  EXPECT_TRUE(back.GetRows()[0][4].IsNull());
}

TEST_F(SettingsFileTest, CsvLoadFailuresLeaveNoRows) {
  CCsvFile csv;
  ASSERT_TRUE(csv.Load(Write("a.csv", "a\n")));
  EXPECT_FALSE(csv.Load(Path("missing.csv")));
  EXPECT_TRUE(csv.GetRows().empty());
  EXPECT_EQ(csv.GetPath(), Path("a.csv"));
  ASSERT_TRUE(csv.Load(Path("a.csv")));
  EXPECT_FALSE(csv.Load(dir_.string()));  // a folder opens but cannot be read
  EXPECT_TRUE(csv.GetRows().empty());
}

TEST_F(SettingsFileTest, CsvSaveFailureLeavesFilesAlone) {
  CCsvFile csv;
  EXPECT_FALSE(csv.Save());  // no path yet
  csv.GetRows() = {{CValue("new")}};
  EXPECT_FALSE(csv.Save(Path("no-folder/s.ini")));
  EXPECT_FALSE(fs::exists(Path("no-folder")));
  fs::create_directory(Path("taken"));
  Write("taken/keep", "old");
  EXPECT_FALSE(csv.Save(Path("taken")));
  EXPECT_EQ(Read(Path("taken/keep")), "old");

  // Through a symbolic link: the target is replaced, the link and the
  // target's permissions stay.
  Write("real.ini", "old\n");
  fs::permissions(Path("real.ini"), fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read);
  fs::create_symlink("real.ini", Path("link.ini"));
  ASSERT_TRUE(csv.Save(Path("link.ini")));
  EXPECT_TRUE(fs::is_symlink(Path("link.ini")));
  EXPECT_EQ(Read(Path("real.ini")), "new\n");
  struct stat st;
  ASSERT_EQ(stat(Path("real.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
  }
}

TEST_F(SettingsFileTest, SettingsLoadBuildsSectionsAndLists) {
  CSettingsFile& settings = CSettingsFile::Instance();
  EXPECT_EQ(&settings, &CSettingsFile::Instance());
  ASSERT_TRUE(settings.Load(Write("s.ini",
      "stray,row\n[B],extra\nk,1\nthree,fields,here\nn,(null)\nk,2\nonly\n[]\nx,y\n"
      "<L>\na,b\n\nc\n\n[A]\nk,1\n<>\n[A]\nj,2\n<L2>\n\n\n")));
  const std::map<std::string, CSettingsFile::Keys> sections = {
      {"A", {{"j", CValue("2")}}},
      {"B", {{"k", CValue("2")}, {"n", CValue()}, {"x", CValue("y")}}}};
  EXPECT_EQ(settings.Sections(), sections);
  const std::map<std::string, CSettingsFile::Rows> lists = {
      {"L", {{CValue("a"), CValue("b")}, {}, {CValue("c")}}}, {"L2", {{}}}};
  EXPECT_EQ(settings.Lists(), lists);

  EXPECT_FALSE(settings.Load(Path("missing.ini")));
  EXPECT_TRUE(settings.Sections().empty());
  EXPECT_TRUE(settings.Lists().empty());
}

TEST_F(SettingsFileTest, SettingsSaveRebuildsSortedSections) {
  CSettingsFile& settings = CSettingsFile::Instance();
  const std::string path = Write("s.ini",
      "<Z>\nr1\n\n[b]\ny,2\nx,1\n[設定]\nk,v\n[B]\nn,(null)\nbad\n");
  ASSERT_TRUE(settings.Load(path));
  settings.Section("X");
  settings.Section("b")["z"] = "a,\"q\"";
  settings.List("Y").push_back({CValue("[")});
  ASSERT_TRUE(settings.Save());  // back to the loaded path
  // Unsigned byte order puts the CP932 name after every ASCII one.
  const std::string expected =
      "[B]\nn,(null)\n\n[X]\n\n[b]\nx,1\ny,2\nz,\"a,\"\"q\"\"\"\n\n[設定]\nk,v\n\n"
      "<Y>\n[\n\n<Z>\nr1\n\n";
  EXPECT_EQ(Read(path), expected);
  ASSERT_TRUE(settings.Load(path));
  ASSERT_TRUE(settings.Save(Path("again.ini")));
  EXPECT_EQ(Read(Path("again.ini")), expected);
}

TEST_F(SettingsFileTest, SettingsListsSurviveSaveAndLoad) {
  CSettingsFile& settings = CSettingsFile::Instance();
  ASSERT_FALSE(settings.Load(Path("none.ini")));
  const CSettingsFile::Rows lists[] = {
      {}, {{}}, {{}, {}}, {{CValue("")}}, {{}, {CValue("a")}, {CValue(""), CValue()}, {}, {}}};
  for (std::size_t i = 0; i < std::size(lists); ++i) {
    settings.List("L" + std::to_string(i)) = lists[i];
  }
  ASSERT_TRUE(settings.Save(Path("lists.ini")));
  ASSERT_TRUE(settings.Load(Path("lists.ini")));
  for (std::size_t i = 0; i < std::size(lists); ++i) {
    EXPECT_EQ(settings.List("L" + std::to_string(i)), lists[i]) << i;
  }
}

TEST_F(SettingsFileTest, SettingsGarbageLoadsAndRoundTrips) {
  const std::string pieces[] = {"[s]", "<l>", "[t]", "k", "v", ",", ",", "\"", "\"\"",
                                "\r", "\n", "\n", "\r\n", std::string(1, '\0'), "(null)",
                                "\x81\x40", " "};
  std::mt19937 random(20240315);
  CSettingsFile& settings = CSettingsFile::Instance();
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    for (int n = random() % 80; n > 0; --n) bytes += pieces[random() % std::size(pieces)];
    ASSERT_TRUE(settings.Load(Write("g.ini", bytes)));
    const auto sections = settings.Sections();
    const auto lists = settings.Lists();
    ASSERT_TRUE(settings.Save(Path("g2.ini")));
    ASSERT_TRUE(settings.Load(Path("g2.ini")));
    EXPECT_EQ(settings.Sections(), sections) << round;
    EXPECT_EQ(settings.Lists(), lists) << round;
  }
  // A 10 MB last line with an unbalanced quote and no line end.
  ASSERT_TRUE(settings.Load(Write("big.ini", "[S]\nk,\"" + std::string(10 << 20, 'x'))));
  EXPECT_EQ(settings.Section("S")["k"].Text().size(), std::size_t{10} << 20);
}

}  // namespace
