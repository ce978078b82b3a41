#include "db/db_control.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/common/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

std::string ErrorText(const CDBControl& db) {
  std::string text;
  db.GetError(&text);
  return text;
}

// Runs `body` in a child process that file permissions bind (root becomes
// "nobody" there); true when the body returned true.
bool RunUnprivileged(const std::function<bool()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(2);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// In the child, a failed check is told on standard error.
bool Check(bool ok, const char* what, const CDBControl& db) {
  if (!ok) std::fprintf(stderr, "%s failed; last error %s\n", what, ErrorText(db).c_str());
  return ok;
}

TEST(DBVarTest, Conversions) {
  EXPECT_EQ("", CDBVar(nullptr).Text());
  EXPECT_EQ("7203", CDBVar("7203                ").ToString());
  EXPECT_EQ(std::string(20, ' '), CDBVar(std::string(20, ' ').c_str()).ToString());
  EXPECT_EQ(" a \t", CDBVar(" a \t ").ToString());
  EXPECT_EQ("", CDBVar("").ToString());

  const std::pair<const char*, int32_t> ints[] = {
      {" -12x", -12}, {"+7", 7}, {"1.9", 1}, {"abc", 0}, {"", 0}, {"- 1", 0},
      {"2147483647", INT_MAX}, {"99999999999", INT_MAX}, {"-2147483648", INT_MIN},
      {"-99999999999", INT_MIN}};
  for (const auto& [text, value] : ints) EXPECT_EQ(value, CDBVar(text).ToInt()) << text;

  const std::pair<const char*, double> doubles[] = {
      {"1.5", 1.5}, {" -2e3 ", -2000.0}, {"100", 100.0}, {"+.25x", 0.25}, {"x1", 0.0}, {"", 0.0}};
  for (const auto& [text, value] : doubles) EXPECT_EQ(value, CDBVar(text).ToDouble()) << text;

  EXPECT_EQ(20240315, CDBVar("2024-03-15 00:00:00").ToDate());
  EXPECT_EQ(20240305, CDBVar("2024/3/5").ToDate());
  EXPECT_EQ(0, CDBVar("no date").ToDate());
  EXPECT_EQ(0, CDBVar("").ToDate());
}

class DBControlTest : public ::testing::Test {
 protected:
  std::string CreateStock() {
    const std::string path = dir_.Sub("stock.mdb");
    EXPECT_TRUE(db_.CreateDatabase(path)) << ErrorText(db_);
    return path;
  }
  TempDir dir_;
  CDBControl db_;
};

TEST_F(DBControlTest, CreateDatabaseMakesAnEmptyFileAndNeverReplacesOne) {
  const std::string path = CreateStock();
  ASSERT_TRUE(db_.Open(path));
  CDBControl::Rows rows;
  ASSERT_TRUE(db_.Execute("SELECT count(*) FROM sqlite_master"));
  ASSERT_TRUE(db_.Fetch(1, rows));
  EXPECT_EQ("0", rows.at(0).at(0).Text());
  ASSERT_TRUE(db_.Execute("CREATE TABLE 分割(  銘柄コード CHAR(20))"));

  // Something at the path, open or not, a file or a folder, is kept.
  fs::create_directory(dir_.Sub("folder"));
  std::ofstream(dir_.Sub("text.mdb")) << "text";
  for (const std::string& target : {path, dir_.Sub("folder"), dir_.Sub("text.mdb"),
                                    dir_.Sub("missing/stock.mdb")}) {
    EXPECT_FALSE(db_.CreateDatabase(target)) << target;
    EXPECT_EQ(14, db_.GetError()) << target;
    EXPECT_EQ(0u, ErrorText(db_).find("HY000(14)cannot create " + target + ": ")) << ErrorText(db_);
  }
  EXPECT_EQ("text", ReadFile(dir_.Sub("text.mdb")));
  EXPECT_FALSE(fs::exists(dir_.Sub("missing")));
  EXPECT_TRUE(db_.IsOpen());
  EXPECT_TRUE(db_.Execute("SELECT 銘柄コード FROM 分割"));  // the open file is untouched

  // A folder that cannot be written to.
  fs::permissions(dir_.path(), fs::perms(0555));
  EXPECT_TRUE(RunUnprivileged([&] {
    CDBControl other;
    return Check(!other.CreateDatabase(dir_.Sub("new.mdb")), "refusal", other) &&
           !fs::exists(dir_.Sub("new.mdb"));
  }));
  fs::permissions(dir_.path(), fs::perms(0755));
}

TEST_F(DBControlTest, ConnectTakesAnMdbPathOrAConnectionString) {
  const std::string path = CreateStock();
  const std::string other = dir_.Sub("a;b.db");
  ASSERT_TRUE(db_.CreateDatabase(other));
  const std::pair<std::string, bool> texts[] = {
      {path, true},
      {"Database=" + other + ";", false},  // the path ends at its ';'
      {" database = {" + other + "} ; UID=admin;", true},
      {"Driver={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=" + path + ";UID=admin;", true},
      {"UID=admin;Database;", false}};
  for (const auto& [text, connects] : texts) {
    EXPECT_EQ(connects, db_.Connect(text)) << text;
    EXPECT_EQ(connects, db_.IsOpen()) << text;
  }
  ASSERT_TRUE(db_.Open(other));  // any name through Open
  ASSERT_TRUE(db_.Execute("CREATE TABLE t(a INTEGER)"));

  // Upper case is no path: the text names no file, and the old connection
  // is gone all the same.
  const std::string upper = dir_.Sub("STOCK.MDB");
  ASSERT_TRUE(db_.CreateDatabase(upper));
  EXPECT_FALSE(db_.Connect(upper));
  EXPECT_FALSE(db_.IsOpen());
  EXPECT_EQ("HY000(14)no database file given", ErrorText(db_));
  EXPECT_FALSE(db_.Execute("SELECT a FROM t"));
  EXPECT_EQ("HY000(21)no database is open", ErrorText(db_));
  CDBControl::Rows rows(1);
  EXPECT_FALSE(db_.Fetch(1, rows));
  EXPECT_TRUE(rows.empty());

  EXPECT_FALSE(db_.Open(dir_.Sub("absent.mdb")));
  EXPECT_EQ("HY000(14)unable to open database file", ErrorText(db_));
  EXPECT_FALSE(fs::exists(dir_.Sub("absent.mdb")));
}

TEST_F(DBControlTest, FileThatIsNoDatabaseFailsToOpen) {
  const std::string path = dir_.Sub("stock.mdb");
  std::ofstream(path) << std::string(4096, 'x');
  EXPECT_FALSE(db_.Open(path));
  EXPECT_EQ("HY000(26)file is not a database", ErrorText(db_));
  EXPECT_EQ(26, db_.GetError(nullptr));
  EXPECT_FALSE(db_.IsOpen());
  EXPECT_EQ(std::string(4096, 'x'), ReadFile(path));
}

TEST_F(DBControlTest, FetchCutsCellsAndKeepsRowsReadBeforeAFailure) {
  ASSERT_TRUE(db_.Open(CreateStock()));
  CDBControl::Rows rows(3);
  ASSERT_TRUE(db_.Execute("CREATE TABLE 分割(  銘柄コード CHAR(20),  日付 INTEGER,  分割比 REAL,  PRIMARY KEY(銘柄コード,日付))"));
  EXPECT_TRUE(db_.Fetch(2, rows));
  EXPECT_TRUE(rows.empty());
  ASSERT_TRUE(db_.Execute("SELECT 日付 FROM 分割"));
  EXPECT_TRUE(db_.Fetch(1, rows));
  EXPECT_TRUE(rows.empty());

  // 300 ASCII bytes are cut to 255; 200 two-byte characters to 127 of them.
  ASSERT_TRUE(db_.Execute(
      "SELECT printf('%.300c', 'a'), replace(printf('%.200c', 'x'), 'x', '表'), "
      "'a' || char(0) || 'b', NULL"));
  ASSERT_TRUE(db_.Fetch(5, rows));
  ASSERT_EQ(1u, rows.size());
  ASSERT_EQ(5u, rows[0].size());
  EXPECT_EQ(std::string(255, 'a'), rows[0][0].Text());
  std::string kanji;
  for (int i = 0; i < 127; ++i) kanji += "表";
  EXPECT_EQ(kanji, rows[0][1].Text());
  EXPECT_EQ("a", rows[0][2].Text());
  EXPECT_EQ("", rows[0][3].Text());
  EXPECT_EQ("", rows[0][4].Text());

  ASSERT_TRUE(db_.Execute("INSERT INTO 分割 VALUES ('1', 1, 1), ('2', 2, 1), ('3', 3, 1)"));
  ASSERT_TRUE(db_.Execute("SELECT 日付 FROM 分割"));
  ASSERT_TRUE(db_.Fetch(0, rows));
  EXPECT_EQ(3u, rows.size());
  EXPECT_TRUE(rows[0].empty());
  ASSERT_TRUE(db_.Execute(
      "SELECT CASE WHEN 日付=3 THEN abs(日付-9223372036854775807-4) ELSE 日付 END FROM 分割"));
  EXPECT_FALSE(db_.Fetch(1, rows));
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("2", rows[1][0].Text());
  EXPECT_EQ("HY000(1)integer overflow", ErrorText(db_));
  EXPECT_TRUE(db_.Fetch(1, rows));
  EXPECT_TRUE(rows.empty());

  // Rows left unread are dropped by the next statement.
  ASSERT_TRUE(db_.Execute("SELECT 日付 FROM 分割"));
  ASSERT_TRUE(db_.Execute("SELECT 'x'"));
  ASSERT_TRUE(db_.Fetch(1, rows));
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("x", rows[0][0].Text());
}

TEST_F(DBControlTest, GetErrorFormatsTheLastFailure) {
  ASSERT_TRUE(db_.Open(CreateStock()));
  ASSERT_TRUE(db_.Execute("CREATE TABLE 分割(  銘柄コード CHAR(20),  日付 INTEGER,  分割比 REAL,  PRIMARY KEY(銘柄コード,日付))"));
  ASSERT_TRUE(db_.Execute("INSERT INTO 分割 VALUES ('7203', 20240101, 2.000000)"));
  EXPECT_EQ("00000(0)", ErrorText(db_));
  EXPECT_FALSE(db_.Execute("INSERT INTO 分割 VALUES ('7203', 20240101, 3.000000)"));
  EXPECT_EQ(1555, db_.GetError());
  EXPECT_EQ("23000(1555)UNIQUE constraint failed: 分割.銘柄コード, 分割.日付", ErrorText(db_));
  // The update that follows a failed insert clears the failure.
  EXPECT_TRUE(db_.Execute("UPDATE 分割 SET 分割比=3.000000 WHERE 銘柄コード='7203' AND 日付=20240101"));
  EXPECT_EQ(0, db_.GetError());

  // A long message is cut to 255 bytes.
  std::string name;
  for (int i = 0; i < 150; ++i) name += "表";
  EXPECT_FALSE(db_.Execute("SELECT * FROM " + name));
  const std::string text = ErrorText(db_);
  EXPECT_EQ("42000(1)no such table: " + name.substr(0, 240), text);
}

TEST_F(DBControlTest, ReadOnlyFileIsReadButNotWritten) {
  const std::string path = CreateStock();
  ASSERT_TRUE(db_.Open(path));
  ASSERT_TRUE(db_.Execute("CREATE TABLE 分割(  銘柄コード CHAR(20),  日付 INTEGER,  分割比 REAL,  PRIMARY KEY(銘柄コード,日付))"));
  ASSERT_TRUE(db_.Execute("INSERT INTO 分割 VALUES ('ソ\\', 1, 1.5)"));
  db_.Close();
  fs::permissions(path, fs::perms(0444));
  fs::permissions(dir_.path(), fs::perms(0777));  // room for the shared-memory file
  EXPECT_TRUE(RunUnprivileged([&] {
    CDBControl other;
    CDBControl::Rows rows;
    return Check(other.Open(path), "open", other) &&
           Check(other.Execute("SELECT 銘柄コード,分割比 FROM 分割"), "select", other) &&
           Check(other.Fetch(2, rows) && rows.size() == 1 &&
                     rows[0][0].ToString() == "ソ\\" && rows[0][1].ToDouble() == 1.5,
                 "fetch", other) &&
           Check(!other.Execute("INSERT INTO 分割 VALUES ('2', 2, 1)") &&
                     ErrorText(other) == "HY000(8)attempt to write a readonly database",
                 "refused write", other);
  }));
  fs::permissions(dir_.path(), fs::perms(0755));
}

}  // namespace
