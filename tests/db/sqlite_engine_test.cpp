#include "db/sqlite_engine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sstream>

#include "db/db_stock3.h"
#include "support/text.h"
#include "tests/common/temp_dir.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

class SqliteEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CDBStock3 stock;  // the four tables of the stock database
    ASSERT_TRUE(stock.CreateDatabase(path_) && stock.Open(path_) && stock.CreateTables());
    stock.Close();
    ASSERT_TRUE(engine_.Open(path_));
  }

  void Run(const std::string& sql) {
    EXPECT_TRUE(engine_.Execute(sql)) << sql << ": " << engine_.LastError().message;
  }

  // Every row of a query, with `columns` cells a row.
  Rows Query(const std::string& sql, int columns = 1) {
    Rows rows;
    std::vector<std::string> cells;
    Run(sql);
    while (engine_.NextRow(columns, cells) == CSqliteEngine::StepResult::kRow) rows.push_back(cells);
    return rows;
  }

  // `message` is checked when given.
  void ExpectFailure(const std::string& sql, const char* state, int native,
                     const char* message = nullptr) {
    EXPECT_FALSE(engine_.Execute(sql)) << sql;
    const CSqliteEngine::Error& e = engine_.LastError();
    EXPECT_TRUE(e.state == state && e.native == native && (!message || e.message == message))
        << sql << ": " << e.state << " " << e.native << " " << e.message;
  }

  TempDir dir_;
  const std::string path_ = dir_.Sub("stock.mdb");
  CSqliteEngine engine_;
};

TEST_F(SqliteEngineTest, JapaneseTextIsStoredAsUtf8AndReadBackAsCp932) {
  // "表" and "ソ" end in 0x5C; below the engine 表 is E8 A1 A8, ソ E3 82 BD.
  Run("INSERT INTO 銘柄 VALUES ('13\\'';', 1, '東証', '表示ソフト\\O''Neil', 100, '情報・通信', 1, "
      "1000, 1.0, 2.0, 3.0)");
  EXPECT_EQ(Rows({{"表示ソフト\\O'Neil", "13\\';", "E8A1A8E7A4BAE382BDE38395E38388"}}),
            Query("SELECT 名称, trim(銘柄コード), hex(substr(名称, 1, 5)) FROM 銘柄", 3));
}

TEST_F(SqliteEngineTest, DatetimeIsStoredCanonicallyAndKeyedAsADate) {
  // '2024/10/1' sorts before '2024/3/5' as bytes.
  Run("INSERT INTO 時系列 VALUES ('7203', 0, '2024/3/5', 1, 1, 1, 1, 100), "
      "('7203', 0, '2024/10/1', 2, 2, 2, 2, 100), ('7203', 0, '2024-02-29 00:00', 3, 3, 3, 3, 0)");
  EXPECT_EQ(Rows({{"2024-02-29 00:00:00"}, {"2024-03-05 00:00:00"},
                  {"2024-10-01 00:00:00"}}),
            Query("SELECT 日時 FROM 時系列 ORDER BY 日時"));
  // The same day in another form is the same key.
  ExpectFailure("INSERT INTO 時系列 VALUES ('7203', 0, '2024-03-05 00:00:00', 0, 0, 0, 0, 0)",
                "23000", SQLITE_CONSTRAINT_PRIMARYKEY);
  EXPECT_EQ(Rows({{"1"}}), Query("SELECT 終値 FROM 時系列 WHERE 日時='2024-03-05'"));
  // An update of the key is canonical too.
  Run("UPDATE 時系列 SET 日時='2025/1/6' WHERE 日時='2024/10/1'");
  EXPECT_EQ(Rows({{"2025-01-06 00:00:00", "2"}}),
            Query("SELECT 日時,終値 FROM 時系列 WHERE 日時>'2024/12/31'", 2));

  // What is no date is refused, in an insert and in an update.
  for (const char* text : {"2023/2/29", "2024/13/1", "2024/3/5 09:30", "24/3/5",
                           "20240305", "abc", ""}) {
    ExpectFailure(StringFormat("INSERT INTO 時系列 VALUES ('1', 0, '%s', 0, 0, 0, 0, 0)", text),
                  "HY000", SQLITE_MISMATCH, *text ? nullptr : "'' is not a date");
  }
  ExpectFailure("UPDATE 時系列 SET 日時='2024/3/32'", "HY000", SQLITE_MISMATCH);
  EXPECT_EQ(Rows({{"3"}}), Query("SELECT count(*) FROM 時系列"));
}

TEST_F(SqliteEngineTest, CharColumnsArePaddedAndNumbersComeAsDecimalText) {
  // VARCHAR is as stored, an empty text padded, an expression no column.
  Run("INSERT INTO 銘柄 VALUES ('7203', 1, '東証プライム', 'トヨタ', 4294967295, '', 1, 1e15, 0.1, "
      "-2.5, 100.0)");
  EXPECT_EQ(Rows({{"7203" + std::string(16, ' '), "東証プライム" + std::string(14, ' '), "トヨタ",
                   std::string(20, ' '), "7203"}}),
            Query("SELECT 銘柄コード,市場,名称,業種,MAX(銘柄コード) FROM 銘柄", 5));
  EXPECT_EQ(Rows({{"4294967295", "1000000000000000", "0.1", "-2.5", "100", "1.5e-300", "-7"}}),
            Query("SELECT 売買単位,発行済株式数,配当,EPS,BPS,1.5e-300,-7 FROM 銘柄", 7));
}

TEST_F(SqliteEngineTest, FailuresAreClassified) {
  // A duplicate key's state and text are checked through CDBControl.
  ExpectFailure("CREATE TABLE 銘柄(a)", "42S01", SQLITE_ERROR, "table 銘柄 already exists");
  ExpectFailure("SELECT 名称 FROM 不明", "42000", SQLITE_ERROR, "no such table: 不明");
  for (const char* bad : {"SELEC 1", "SELECT 1; SELECT 2", " ; "})
    ExpectFailure(bad, "42000", SQLITE_ERROR);
  Run("SELECT 1;  ;");
  EXPECT_TRUE(engine_.LastError().state == "00000" && engine_.LastError().native == 0);
}

TEST_F(SqliteEngineTest, WalJournalNormalSyncBusyTimeoutAndLocks) {
  EXPECT_EQ(Rows({{"wal"}}), Query("PRAGMA journal_mode"));
  EXPECT_EQ(Rows({{"1"}}), Query("PRAGMA synchronous"));
  EXPECT_EQ(Rows({{std::to_string(CSqliteEngine::kBusyTimeoutMs)}}), Query("PRAGMA busy_timeout"));
  // Another connection's lock makes writes fail after the timeout.
  sqlite3* other = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path_.c_str(), &other));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
  ExpectFailure("INSERT INTO 分割 VALUES ('1', 1, 1)", "HY000", SQLITE_BUSY, "database is locked");
  EXPECT_EQ(Rows({{"0"}}), Query("SELECT count(*) FROM 分割"));  // WAL: reads go on
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  Run("INSERT INTO 分割 VALUES ('1', 1, 1)");

  // A connection in exclusive locking mode shuts out even readers.
  engine_.Close();
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN "
                                           "EXCLUSIVE; COMMIT", nullptr, nullptr, nullptr));
  EXPECT_FALSE(engine_.Open(path_) || engine_.IsOpen());
  EXPECT_EQ(SQLITE_BUSY, engine_.LastError().native & 0xFF);
  sqlite3_close(other);
  EXPECT_TRUE(engine_.Open(path_));
}

}  // namespace
