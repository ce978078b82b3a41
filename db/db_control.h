#ifndef TICKORA_DB_DB_CONTROL_H_
#define TICKORA_DB_DB_CONTROL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "db/db_var.h"
#include "db/sqlite_engine.h"

// CDBControl is the access layer under every statement of the stock
// database: it creates database files, holds one connection, runs
// statement texts (CP932) one at a time, reads their rows as text cells and
// describes the last failure in one line. It knows nothing of tables;
// CDBStock3 derives from it. The engine below it is CSqliteEngine, which
// says what the statements may rely on.
//
// An object is closed after construction. Connect (or Open) opens it; a
// failed Connect leaves it closed, having closed any earlier connection
// first. Close and the destructor close it. Execute and Fetch fail on a
// closed object.
//
// Calling order: Execute, then, for a statement that returns rows, one
// Fetch at once, before the next statement; an unread result is dropped by
// the next Execute, Connect or Close.
//
// Connection string. A text given to Connect that ends in ".mdb" (lower
// case exactly) is the path of a database file. Any other text is a list of
// key=value pairs separated by ";", for example "Database=/data/stock.db;".
// Keys are case-insensitive and blanks around them are ignored. Database
// names the file; DBQ is another name for it, so that the form
// "Driver={...};DBQ=<path>;UID=admin;" works too. A value in braces
// ("Database={/a;b/stock.db}", blanks allowed before the brace) may hold
// ";"; a value without them is taken as it stands up to the next ";".
// Other keys are ignored; the first Database or DBQ counts. A text naming
// no file fails.
//
// Results are booleans (GetError returns the native error); nothing throws.
// After a failure GetError describes it; after a success it reads
// "00000(0)". Paths are byte strings handed to the file system as they are.
//
// One thread at a time may use an object.
class CDBControl {
 public:
  using Row = std::vector<CDBVar>;
  using Rows = std::vector<Row>;

  // A cell longer than this many bytes is cut to it (without leaving half a
  // two-byte character at the end).
  static constexpr std::size_t kCellBytes = 255;

  CDBControl() = default;
  // Closes the connection when it is open.
  virtual ~CDBControl();
  CDBControl(const CDBControl&) = delete;
  CDBControl& operator=(const CDBControl&) = delete;

  // Creates a new, empty database file at `path`. False when nothing new
  // can be made there: the folder is missing or not writable, or something
  // (a file of any kind, open or locked by anyone, or a folder) already
  // exists at the path, which is never overwritten. The object's own
  // connection is not touched.
  [[nodiscard]] bool CreateDatabase(const std::string& path);

  // Connects to the existing database file at `path` (any name).
  [[nodiscard]] bool Open(const std::string& path);

  // Connects to the file named by `text`: a path ending in ".mdb", or a
  // connection string (see above).
  [[nodiscard]] bool Connect(const std::string& text);

  // Releases the connection. Nothing when closed.
  void Close();

  [[nodiscard]] bool IsOpen() const { return engine_.IsOpen(); }

  // Runs one statement, given up to its terminating NUL (nullptr fails).
  [[nodiscard]] bool Execute(const char* sql);
  [[nodiscard]] bool Execute(const std::string& sql) { return Execute(sql.c_str()); }

  // Empties `rows`, then reads every row of the statement last run, each
  // with `columnCount` cells in the order of the select list (none when
  // columnCount is 0 or less; empty cells past the end of the select list).
  // A cell holds its text up to the first NUL, cut to kCellBytes; NULL reads
  // as an empty text. True when all rows were read, also when there were
  // none or the statement returned no rows; false when reading failed or the
  // object is closed, with the rows read before the failure kept in `rows`.
  [[nodiscard]] bool Fetch(int32_t columnCount, Rows& rows);

  // The most recent failure: sets `text` (when given) to "%s(%d)%*s" of the
  // five-character state, the native error and the message (at most 255
  // bytes), e.g. "23000(1555)UNIQUE constraint failed: 分割.銘柄コード, 分割.日付",
  // and returns the native error. The states are those of CSqliteEngine.
  int32_t GetError(std::string* text = nullptr) const;

 protected:
  // Makes GetError describe a failure found before any statement ran.
  void RecordFailure(const char* state, int native, const std::string& message) {
    engine_.RecordFailure(state, native, message);
  }

 private:
  CSqliteEngine engine_;
};

#endif  // TICKORA_DB_DB_CONTROL_H_
