#include "db/db_control.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "tests/common/as_nobody.h"
#include "tests/common/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const char kSplitTable[] = "CREATE TABLE 分割(  銘柄コード CHAR(20),  日付 INTEGER,  分割比 REAL,  "
                           "PRIMARY KEY(銘柄コード,日付))";

std::string Repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

std::string ErrorText(const CDBControl& db) {
  std::string text;
  db.GetError(&text);
  return text;
}

TEST(DBVarTest, Conversions) {
  // Only trailing blanks go (a CHAR column's padding and all-blank values
  // are the CDBStock3 tests' part).
  EXPECT_EQ(" a \t", CDBVar(" a \t ").ToString());
  EXPECT_EQ("", CDBVar(nullptr).Text());

  const std::pair<const char*, int32_t> ints[] = {
      {" -12x", -12}, {"+7", 7}, {"1.9", 1}, {"abc", 0}, {"", 0}, {"- 1", 0},
      {"2147483647", INT_MAX}, {"99999999999", INT_MAX}, {"-2147483648", INT_MIN},
      {"-99999999999", INT_MIN}};
  for (const auto& [text, value] : ints) EXPECT_EQ(value, CDBVar(text).ToInt()) << text;
  const std::pair<const char*, double> doubles[] = {
      {"1.5", 1.5}, {" -2e3 ", -2000.0}, {"100", 100.0}, {"+.25x", 0.25}, {"x1", 0.0}, {"", 0.0}};
  for (const auto& [text, value] : doubles) EXPECT_EQ(value, CDBVar(text).ToDouble()) << text;
  EXPECT_EQ(20240315, CDBVar("2024-03-15 00:00:00").ToDate());
  EXPECT_EQ(0, CDBVar("no date").ToDate());
}

class DBControlTest : public ::testing::Test {
 protected:
  // Creates stock.mdb, opens it and, when asked, creates the split table.
  void OpenStock(bool withTable = true) {
    EXPECT_TRUE(db_.CreateDatabase(path_) && db_.Open(path_)) << ErrorText(db_);
    EXPECT_TRUE(!withTable || db_.Execute(kSplitTable)) << ErrorText(db_);
  }
  // The texts of the rows last fetched.
  using Table = std::vector<std::vector<std::string>>;
  Table Texts() const {
    Table texts(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      for (const CDBVar& cell : rows_[i]) texts[i].push_back(cell.Text());
    }
    return texts;
  }
  TempDir dir_;
  const std::string path_ = dir_.Sub("stock.mdb");
  CDBControl db_;
  CDBControl::Rows rows_;
};

TEST_F(DBControlTest, CreateDatabaseMakesAnEmptyFileAndNeverReplacesOne) {
  OpenStock(false);
  ASSERT_TRUE(db_.Execute("SELECT count(*) FROM sqlite_master") && db_.Fetch(1, rows_));
  EXPECT_EQ(Texts(), (Table{{"0"}}));
  ASSERT_TRUE(db_.Execute(kSplitTable));

  // Something at the path, open or not, a file or a folder, is kept.
  fs::create_directory(dir_.Sub("folder"));
  std::ofstream(dir_.Sub("text.mdb")) << "text";
  for (const std::string& target : {path_, dir_.Sub("folder"), dir_.Sub("text.mdb"),
                                    dir_.Sub("missing/stock.mdb")}) {
    EXPECT_FALSE(db_.CreateDatabase(target)) << target;
    EXPECT_EQ(0u, ErrorText(db_).find("HY000(14)cannot create " + target + ": ")) << ErrorText(db_);
  }
  EXPECT_EQ(4u, fs::file_size(dir_.Sub("text.mdb")));
  // The open file is untouched.
  EXPECT_TRUE(db_.IsOpen() && db_.Execute("SELECT 銘柄コード FROM 分割"));

  // A folder that cannot be written to.
  fs::permissions(dir_.path(), fs::perms(0555));
  EXPECT_TRUE(AsNobody([&] {
    CDBControl other;
    return !other.CreateDatabase(dir_.Sub("new.mdb")) && !fs::exists(dir_.Sub("new.mdb"));
  }));
  fs::permissions(dir_.path(), fs::perms(0755));
}

TEST_F(DBControlTest, ConnectTakesAnMdbPathOrAConnectionString) {
  OpenStock(false);
  const std::string other = dir_.Sub("a;b.db"), upper = dir_.Sub("STOCK.MDB");
  ASSERT_TRUE(db_.CreateDatabase(other) && db_.CreateDatabase(upper));
  std::ofstream(dir_.Sub("x.mdb")) << std::string(4096, 'x');
  // Each failure follows a success: a failed Connect closes the old connection.
  const char kNoFile[] = "HY000(14)no database file given", kOk[] = "00000(0)";
  const struct { std::string text; bool connects; std::string error; } kTexts[] = {
      {path_, true, kOk},
      {"Database=" + other + ";", false, "HY000(14)unable to open database file"},  // ends at ';'
      {" database = {" + other + "} ; UID=admin;", true, kOk},
      {upper, false, kNoFile},  // upper case is no path
      {"Driver={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=" + path_ + ";UID=admin;", true, kOk},
      {"UID=admin;Database;", false, kNoFile}, {path_, true, kOk},
      {dir_.Sub("absent.mdb"), false, "HY000(14)unable to open database file"}, {path_, true, kOk},
      {dir_.Sub("x.mdb"), false, "HY000(26)file is not a database"}};
  for (const auto& [text, connects, error] : kTexts) {
    EXPECT_EQ(connects, db_.Connect(text)) << text;
    EXPECT_EQ(connects, db_.IsOpen()) << text;
    EXPECT_EQ(error, ErrorText(db_)) << text;
  }
  EXPECT_EQ(4096u, fs::file_size(dir_.Sub("x.mdb")));  // refused and left alone
  EXPECT_FALSE(db_.Execute("SELECT 1"));
  EXPECT_EQ("HY000(21)no database is open", ErrorText(db_));
  rows_.resize(1);
  EXPECT_TRUE(!db_.Fetch(1, rows_) && rows_.empty());
  EXPECT_TRUE(db_.Open(other));  // any name
}

TEST_F(DBControlTest, FetchCutsCellsKeepsRowsReadBeforeAFailureAndGetErrorTellsWhy) {
  OpenStock();
  rows_.resize(3);
  EXPECT_TRUE(db_.Fetch(2, rows_) && rows_.empty());  // a statement without rows
  ASSERT_TRUE(db_.Execute("SELECT 日付 FROM 分割"));
  EXPECT_TRUE(db_.Fetch(1, rows_) && rows_.empty());

  // 300 ASCII bytes are cut to 255; 200 two-byte characters to 127 of them.
  ASSERT_TRUE(db_.Execute(
      "SELECT printf('%.300c', 'a'), replace(printf('%.200c', 'x'), 'x', '表'), "
      "'a' || char(0) || 'b', NULL"));
  ASSERT_TRUE(db_.Fetch(5, rows_));
  EXPECT_EQ(Texts(), (Table{{std::string(255, 'a'), Repeat("表", 127), "a", "", ""}}));

  ASSERT_TRUE(db_.Execute("INSERT INTO 分割 VALUES ('1', 1, 1), ('2', 2, 1), ('3', 3, 1)"));
  ASSERT_TRUE(db_.Execute("SELECT 日付 FROM 分割") && db_.Fetch(0, rows_));
  EXPECT_EQ(Texts(), (Table{{}, {}, {}}));
  ASSERT_TRUE(db_.Execute(
      "SELECT CASE WHEN 日付=3 THEN abs(日付-9223372036854775807-4) ELSE 日付 END FROM 分割"));
  EXPECT_FALSE(db_.Fetch(1, rows_));
  EXPECT_EQ(Texts(), (Table{{"1"}, {"2"}}));
  EXPECT_EQ("HY000(1)integer overflow", ErrorText(db_));
  EXPECT_TRUE(db_.Fetch(1, rows_) && rows_.empty());

  // Rows left unread are dropped by the next statement.
  ASSERT_TRUE(db_.Execute("SELECT 日付 FROM 分割") && db_.Execute("SELECT 'x'"));
  ASSERT_TRUE(db_.Fetch(1, rows_));
  EXPECT_EQ(Texts(), (Table{{"x"}}));

  // GetError formats the last failure.
  ASSERT_TRUE(db_.Execute("INSERT INTO 分割 VALUES ('7203', 20240101, 2.000000)"));
  EXPECT_FALSE(db_.Execute("INSERT INTO 分割 VALUES ('7203', 20240101, 3.000000)"));
  EXPECT_EQ(1555, db_.GetError());
  EXPECT_EQ("23000(1555)UNIQUE constraint failed: 分割.銘柄コード, 分割.日付", ErrorText(db_));
  // The update that follows a failed insert clears the failure.
  EXPECT_TRUE(db_.Execute("UPDATE 分割 SET 分割比=3.0 WHERE 銘柄コード='7203' AND 日付=20240101"));
  EXPECT_EQ("00000(0)", ErrorText(db_));

  // A long message is cut to 255 bytes, never inside a two-byte character.
  const std::string name = "x" + Repeat("表", 150);
  EXPECT_FALSE(db_.Execute("SELECT * FROM " + name));
  EXPECT_EQ("42000(1)no such table: " + name.substr(0, 239), ErrorText(db_));
}

TEST_F(DBControlTest, ReadOnlyFileIsReadButNotWritten) {
  OpenStock();
  ASSERT_TRUE(db_.Execute("INSERT INTO 分割 VALUES ('ソ\\', 1, 1.5)"));
  db_.Close();
  fs::permissions(path_, fs::perms(0444));
  fs::permissions(dir_.path(), fs::perms(0777));  // room for the shared-memory file
  EXPECT_TRUE(AsNobody([&] {
    CDBControl other;
    CDBControl::Rows rows;
    return other.Open(path_) && other.Execute("SELECT 銘柄コード,分割比 FROM 分割") &&
           other.Fetch(2, rows) && rows.size() == 1 && rows[0][0].ToString() == "ソ\\" &&
           rows[0][1].ToDouble() == 1.5 && !other.Execute("INSERT INTO 分割 VALUES ('2', 2, 1)") &&
           ErrorText(other) == "HY000(8)attempt to write a readonly database";
  }));
  fs::permissions(dir_.path(), fs::perms(0755));
}

}  // namespace
