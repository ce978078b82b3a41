#ifndef TICKORA_DB_SQLITE_ENGINE_H_
#define TICKORA_DB_SQLITE_ENGINE_H_

#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// CSqliteEngine is the database engine under CDBControl: one SQLite
// connection to one database file, and at most one statement whose rows are
// being read. It makes SQLite behave as the statements of the stock database
// expect:
//
//  - Text is CP932. A statement is converted to UTF-8 before it is
//    prepared, so table names, column names and values may be Japanese;
//    every cell is converted back. A CP932 character whose second byte is
//    0x5C ("表", "ソ") or a backslash passes unchanged. A lead byte never
//    takes a quote, comma or blank after it as its second byte, so a text
//    that ends in a stray lead byte stays inside its quotes.
//  - DATETIME. A CREATE TABLE statement is rewritten so that each column
//    declared DATETIME compares as a date (collation TICKORA_DATE), and two
//    triggers store every value written to it in the canonical form
//    "YYYY-MM-DD 00:00:00". A date is written "y/m/d" or "y-m-d" (four-digit
//    year, month and day with or without leading zero, '2024/3/5'),
//    optionally followed by the time 00:00 or 00:00:00. The primary key,
//    comparisons, ORDER BY, GROUP BY and MAX all use the date order, so
//    '2024/3/5' equals '2024-03-05 00:00:00' and '2024/10/1' sorts after it.
//    A column keeps dates only: writing anything else to it (an impossible
//    date, another time of day, a number) fails with a datatype mismatch.
//    NULL stays NULL. In comparisons such a text sorts after every date.
//  - Cells are delivered as text: integers as decimal digits, floating-point
//    values in the shortest decimal form that reads back to the same value
//    and without an exponent ("1.5", "100", "1000000000000000"; a value
//    beyond 64 characters so written falls back to exponent form), NULL as
//    an empty text. A value read straight from a column declared CHAR(n)
//    is padded with blanks to n characters.
//  - WAL journal and synchronous=NORMAL: every statement outside an
//    explicit transaction is its own durable transaction, without a disk
//    flush per statement.
//  - A lock held by another connection is waited for kBusyTimeoutMs at
//    most; then the operation fails with SQLITE_BUSY ("database is locked").
//
// Other programs may open the file, but a table with a DATETIME column can
// be read or written only by a connection that knows the collation and the
// function tickora_date(), that is through this class.
//
// Failures. Every operation returns false (or StepResult::kFailed) on
// failure and leaves a description in LastError(); each operation first
// clears it, so after a success it reads "00000", 0, "". The state is a
// five-character SQLSTATE-like code:
//   23000  a constraint was violated (an INSERT of an existing key)
//   42S01  the table to be created exists already
//   42000  the statement could not be prepared: a syntax error, a missing
//          table, column or function
//   HY000  anything else (a file that is no database, a read-only or locked
//          database, a failure while the statement ran)
//   22001  (from RecordFailure only) a text longer than its column holds
// The native error is SQLite's extended result code, the message SQLite's
// message in CP932. Nothing throws.
//
// One thread at a time may use an object; the connection is opened without
// SQLite's own mutex.
class CSqliteEngine {
 public:
  static constexpr int kBusyTimeoutMs = 500;

  struct Error {
    std::string state = "00000";
    int native = 0;
    std::string message;  // CP932
  };

  enum class StepResult { kRow, kDone, kFailed };

  CSqliteEngine() = default;
  // Closes the connection.
  ~CSqliteEngine();
  CSqliteEngine(const CSqliteEngine&) = delete;
  CSqliteEngine& operator=(const CSqliteEngine&) = delete;

  // Creates a new, empty database file (WAL journal) at `path`. Nothing may
  // exist at the path yet: an existing file is never overwritten, whatever it
  // holds and whoever has it open. Fails also when the folder is missing or
  // not writable. On failure nothing is left at the path. The connection of
  // this object is not touched.
  [[nodiscard]] bool CreateDatabase(const std::string& path);

  // Closes any open connection, then connects to the existing database file
  // at `path`. The file is read at once, so a file that is no SQLite
  // database, or one that another connection holds locked beyond the busy
  // timeout, fails here; the object then stays closed. A file that cannot be
  // written is opened for reading: queries work, writes fail.
  [[nodiscard]] bool Open(const std::string& path);

  // Drops the unread rows and closes the connection. Nothing when closed.
  void Close();

  [[nodiscard]] bool IsOpen() const { return db_ != nullptr; }

  // Runs one statement (CP932). Rows left unread from the previous statement
  // are dropped first. A statement that returns rows stops before its first
  // row; read them with NextRow. Only one statement may be given: text after
  // it other than blanks and semicolons fails with 42000. False when closed.
  [[nodiscard]] bool Execute(const std::string& sql);

  // Reads the next row of the statement last run into `cells`: `columns`
  // cells (CP932), beyond the result's width as empty texts. kDone when
  // there are no more rows (or no statement returning rows has run), and
  // then the statement is finished. kFailed when reading the next row
  // failed; the rows read before it stay valid and the statement is
  // finished. On kDone and kFailed `cells` is left as it was.
  StepResult NextRow(int columns, std::vector<std::string>& cells);

  const Error& LastError() const { return error_; }

  // Records a failure that the layer above found before it ran anything (a
  // value that a column cannot hold, say), so that LastError describes it
  // like any other. The connection is not touched.
  void RecordFailure(const char* state, int native, const std::string& message) {
    SetError(state, native, message);
  }

 private:
  void ClearError() { error_ = Error(); }
  void SetError(const char* state, int native, const std::string& utf8);
  // Records the connection's current error; `preparing` tells whether it
  // came from preparing a statement (42000) or from running one (HY000).
  void SetErrorFromDb(bool preparing);
  [[nodiscard]] bool Configure();
  // Prepares and starts one statement (UTF-8).
  [[nodiscard]] bool Run(const std::string& utf8);
  [[nodiscard]] bool ExecuteCreateTable(const std::string& statement,
                          const std::vector<std::string>& triggers);
  // Drops the statement whose rows are being read.
  void Finish();

  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;  // the statement whose rows are being read
  bool hasRow_ = false;           // stmt_ stands on a row not yet read
  bool failed_ = false;           // reading past the last row read failed
  std::vector<int> widths_;       // n of each CHAR(n) result column, else 0
  Error error_;
};

#endif  // TICKORA_DB_SQLITE_ENGINE_H_
