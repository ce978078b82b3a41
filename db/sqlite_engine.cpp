#include "db/sqlite_engine.h"

#include <fcntl.h>
#include <strings.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/cp932.h"
#include "support/date.h"

namespace {

const char kDateCollation[] = "TICKORA_DATE";
const char kDateFunction[] = "tickora_date";

// ---- Text -------------------------------------------------------------

bool IsAscii(const char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
  }
  return true;
}

// ASCII is the same in CP932 and UTF-8 (iconv maps 0x5C and 0x7E to the
// backslash and the tilde), so most cells need no conversion.
std::string ToUtf8(const std::string& cp932) {
  return IsAscii(cp932.data(), cp932.size()) ? cp932 : Utf8FromCp932(cp932);
}

std::string ToCp932(std::string utf8) {
  return IsAscii(utf8.data(), utf8.size()) ? utf8 : Cp932FromUtf8(utf8);
}

bool EqualsNoCase(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

// ---- Dates --------------------------------------------------------------

bool ReadNumber(const char*& p, const char* end, std::size_t min_digits,
                std::size_t max_digits, uint32_t& value) {
  std::size_t n = 0;
  value = 0;
  while (p < end && n < max_digits && *p >= '0' && *p <= '9') {
    value = value * 10 + static_cast<uint32_t>(*p - '0');
    ++p;
    ++n;
  }
  return n >= min_digits && (p == end || *p < '0' || *p > '9');
}

bool SkipText(const char*& p, const char* end, const char* text) {
  const std::size_t n = std::strlen(text);
  if (static_cast<std::size_t>(end - p) < n || std::memcmp(p, text, n) != 0) {
    return false;
  }
  p += n;
  return true;
}

// The date number of a value of a DATETIME column, 0 when the text is not a
// date that the column can hold: "y/m/d" or "y-m-d" with a four-digit year
// and a real day, optionally followed by the time 00:00 or 00:00:00,
// blanks allowed around it.
uint32_t DateNumberOf(const char* text, std::size_t length) {
  const char* p = text;
  const char* end = text + length;
  while (p < end && *p == ' ') ++p;
  while (end > p && end[-1] == ' ') --end;
  uint32_t year, month, day;
  if (!ReadNumber(p, end, 4, 4, year) || p == end) return 0;
  const char separator = *p++;
  if (separator != '/' && separator != '-') return 0;
  if (!ReadNumber(p, end, 1, 2, month) || p == end || *p++ != separator) {
    return 0;
  }
  if (!ReadNumber(p, end, 1, 2, day)) return 0;
  if (p < end) {
    if (*p != ' ') return 0;
    while (p < end && *p == ' ') ++p;
    if (!SkipText(p, end, "00:00")) return 0;
    if (p < end && !SkipText(p, end, ":00")) return 0;
    if (p != end) return 0;
  }
  if (year == 0 || month < 1 || month > 12 || day < 1 ||
      day > CDate::DaysInMonth(month, year)) {
    return 0;
  }
  return year * 10000 + month * 100 + day;
}

// Collation of DATETIME columns: dates in date order, then every text that
// is no date, byte by byte.
int CompareDates(void*, int length_a, const void* a, int length_b,
                 const void* b) {
  const char* text_a = static_cast<const char*>(a);
  const char* text_b = static_cast<const char*>(b);
  const uint32_t date_a = DateNumberOf(text_a, static_cast<std::size_t>(length_a));
  const uint32_t date_b = DateNumberOf(text_b, static_cast<std::size_t>(length_b));
  if (date_a != 0 && date_b != 0) {
    return date_a < date_b ? -1 : (date_a > date_b ? 1 : 0);
  }
  if (date_a != 0) return -1;
  if (date_b != 0) return 1;
  const int c = std::memcmp(a, b, static_cast<std::size_t>(
                                      length_a < length_b ? length_a : length_b));
  if (c != 0) return c;
  return length_a < length_b ? -1 : (length_a > length_b ? 1 : 0);
}

// tickora_date(x): the canonical text "YYYY-MM-DD 00:00:00" of a date, NULL
// for NULL; anything else is a datatype mismatch.
void CanonicalDate(sqlite3_context* context, int, sqlite3_value** values) {
  if (sqlite3_value_type(values[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  const int length = sqlite3_value_bytes(values[0]);
  const uint32_t number =
      text == nullptr ? 0 : DateNumberOf(text, static_cast<std::size_t>(length));
  if (number == 0) {
    std::string message = "'";
    message.append(text == nullptr ? "" : text,
                   static_cast<std::size_t>(length < 64 ? length : 64));
    message += "' is not a date";
    sqlite3_result_error(context, message.c_str(), -1);
    sqlite3_result_error_code(context, SQLITE_MISMATCH);
    return;
  }
  char canonical[32];
  std::snprintf(canonical, sizeof canonical, "%04u-%02u-%02u 00:00:00",
                number / 10000, number / 100 % 100, number % 100);
  sqlite3_result_text(context, canonical, -1, SQLITE_TRANSIENT);
}

// ---- CREATE TABLE rewriting -----------------------------------------------
//
// The statement is scanned as UTF-8, where no byte of a Japanese character
// can be mistaken for a quote or a bracket (in CP932 a second byte can be
// '[', ']' or '`').

struct Token {
  std::size_t begin;
  std::size_t end;
  char kind;  // 'w' word, 'i' quoted identifier, 's' string, 'p' punctuation
};

bool IsWordByte(unsigned char c) {
  return c >= 0x80 || c == '_' || c == '$' || (c >= '0' && c <= '9') ||
         (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Tokens of `sql`, blanks and comments left out. An unterminated quote or
// comment runs to the end; SQLite reports the fault when it prepares.
std::vector<Token> Tokenize(const std::string& sql) {
  std::vector<Token> tokens;
  const std::size_t n = sql.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(sql[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
      ++i;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      i = sql.find('\n', i);
      if (i == std::string::npos) i = n;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      i = sql.find("*/", i + 2);
      i = i == std::string::npos ? n : i + 2;
    } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : static_cast<char>(c);
      std::size_t j = i + 1;
      while (j < n) {
        if (sql[j] == close) {
          // A doubled quote stands for itself; brackets have no escape.
          if (c != '[' && j + 1 < n && sql[j + 1] == close) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      const std::size_t end = j < n ? j + 1 : n;
      tokens.push_back({i, end, c == '\'' ? 's' : 'i'});
      i = end;
    } else if (IsWordByte(c)) {
      std::size_t j = i;
      while (j < n && IsWordByte(static_cast<unsigned char>(sql[j]))) ++j;
      tokens.push_back({i, j, 'w'});
      i = j;
    } else {
      tokens.push_back({i, i + 1, 'p'});
      ++i;
    }
  }
  return tokens;
}

// The name an identifier token stands for.
std::string IdentifierOf(const std::string& sql, const Token& token) {
  std::string text = sql.substr(token.begin, token.end - token.begin);
  if (token.kind != 'i' || text.size() < 2) return text;
  const char close = text[0] == '[' ? ']' : text[0];
  std::string name;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    name.push_back(text[i]);
    if (text[i] == close && close != ']' && i + 2 < text.size() &&
        text[i + 1] == close) {
      ++i;
    }
  }
  return name;
}

std::string Quoted(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted.push_back(c);
    if (c == '"') quoted.push_back('"');
  }
  quoted.push_back('"');
  return quoted;
}

// What a CREATE TABLE statement with DATETIME columns becomes: the statement
// with "COLLATE TICKORA_DATE" after each DATETIME type, and the triggers
// that canonicalise the columns.
struct TableRewrite {
  std::string statement;
  std::vector<std::string> triggers;
};

bool RewriteCreateTable(const std::string& sql, TableRewrite& rewrite) {
  // Most statements are not CREATE: spare them the scan.
  const std::size_t first = sql.find_first_not_of(" \t\r\n\f\v");
  if (first == std::string::npos || std::strchr("Cc-/", sql[first]) == nullptr) {
    return false;
  }
  const std::vector<Token> tokens = Tokenize(sql);
  auto word = [&](std::size_t i) -> std::string {
    if (i >= tokens.size() || tokens[i].kind != 'w') return std::string();
    return sql.substr(tokens[i].begin, tokens[i].end - tokens[i].begin);
  };
  auto punct = [&](std::size_t i, char c) {
    return i < tokens.size() && tokens[i].kind == 'p' && sql[tokens[i].begin] == c;
  };
  auto is_name = [&](std::size_t i) {
    return i < tokens.size() && (tokens[i].kind == 'w' || tokens[i].kind == 'i');
  };

  std::size_t i = 0;
  if (!EqualsNoCase(word(i++), "CREATE")) return false;
  bool temporary = false;
  if (EqualsNoCase(word(i), "TEMP") || EqualsNoCase(word(i), "TEMPORARY")) {
    temporary = true;
    ++i;
  }
  if (!EqualsNoCase(word(i++), "TABLE")) return false;
  bool if_not_exists = false;
  if (EqualsNoCase(word(i), "IF") && EqualsNoCase(word(i + 1), "NOT") &&
      EqualsNoCase(word(i + 2), "EXISTS")) {
    if_not_exists = true;
    i += 3;
  }
  if (!is_name(i)) return false;
  std::string schema;
  std::string table = IdentifierOf(sql, tokens[i++]);
  if (punct(i, '.') && is_name(i + 1)) {
    schema = table;
    table = IdentifierOf(sql, tokens[i + 1]);
    i += 2;
  }
  if (!punct(i++, '(')) return false;

  std::vector<std::size_t> insert_at;  // offsets just after a DATETIME type
  std::vector<std::string> columns;
  int depth = 1;
  bool element_start = true;
  for (; i < tokens.size() && depth > 0; ++i) {
    if (punct(i, '(')) {
      ++depth;
    } else if (punct(i, ')')) {
      --depth;
    } else if (depth == 1 && punct(i, ',')) {
      element_start = true;
      continue;
    } else if (depth == 1 && element_start && is_name(i)) {
      const std::string first = word(i);
      const bool constraint =
          EqualsNoCase(first, "CONSTRAINT") || EqualsNoCase(first, "PRIMARY") ||
          EqualsNoCase(first, "UNIQUE") || EqualsNoCase(first, "CHECK") ||
          EqualsNoCase(first, "FOREIGN");
      if (!constraint && EqualsNoCase(word(i + 1), "DATETIME")) {
        columns.push_back(IdentifierOf(sql, tokens[i]));
        insert_at.push_back(tokens[i + 1].end);
      }
    }
    element_start = false;
  }
  if (columns.empty()) return false;

  rewrite.statement.clear();
  std::size_t copied = 0;
  for (std::size_t at : insert_at) {
    rewrite.statement.append(sql, copied, at - copied);
    rewrite.statement += " COLLATE ";
    rewrite.statement += kDateCollation;
    copied = at;
  }
  rewrite.statement.append(sql, copied, std::string::npos);

  // The value is rewritten only when it differs from its canonical form
  // byte for byte, so the trigger's own UPDATE does not run again.
  rewrite.triggers.clear();
  const std::string prefix = schema.empty() ? "" : Quoted(schema) + ".";
  for (const std::string& column : columns) {
    const std::string canonical =
        std::string(kDateFunction) + "(NEW." + Quoted(column) + ")";
    const std::string body =
        " ON " + Quoted(table) + " FOR EACH ROW WHEN NEW." + Quoted(column) +
        " COLLATE BINARY IS NOT " + canonical + " BEGIN UPDATE " +
        Quoted(table) + " SET " + Quoted(column) + "=" + canonical +
        " WHERE rowid=NEW.rowid; END";
    const std::string create = std::string("CREATE ") +
                               (temporary ? "TEMP " : "") + "TRIGGER " +
                               (if_not_exists ? "IF NOT EXISTS " : "") + prefix;
    rewrite.triggers.push_back(create + Quoted(table + "_" + column + "_date_insert") +
                               " AFTER INSERT" + body);
    rewrite.triggers.push_back(create + Quoted(table + "_" + column + "_date_update") +
                               " AFTER UPDATE OF " + Quoted(column) + body);
  }
  return true;
}

// ---- Cells --------------------------------------------------------------

// n for a declared type "CHAR(n)" or "CHARACTER(n)", else 0.
int CharWidth(const char* declared) {
  if (declared == nullptr) return 0;
  const char* p = declared;
  while (*p == ' ') ++p;
  if (strncasecmp(p, "CHARACTER", 9) == 0) {
    p += 9;
  } else if (strncasecmp(p, "CHAR", 4) == 0) {
    p += 4;
  } else {
    return 0;
  }
  while (*p == ' ') ++p;
  if (*p++ != '(') return 0;
  while (*p == ' ') ++p;
  int width = 0;
  while (*p >= '0' && *p <= '9' && width < 100000) width = width * 10 + (*p++ - '0');
  while (*p == ' ') ++p;
  return *p == ')' ? width : 0;
}

std::string NumberText(double value) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value,
                              std::chars_format::fixed);
  if (result.ec != std::errc()) {
    result = std::to_chars(text, text + sizeof text, value,
                           std::chars_format::general);
  }
  return std::string(text, result.ptr);
}

std::string CellText(sqlite3_stmt* stmt, int column, int width) {
  std::string utf8;
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
      return std::string();
    case SQLITE_INTEGER: {
      char text[24];
      auto result = std::to_chars(text, text + sizeof text,
                                  sqlite3_column_int64(stmt, column));
      utf8.assign(text, result.ptr);
      break;
    }
    case SQLITE_FLOAT:
      utf8 = NumberText(sqlite3_column_double(stmt, column));
      break;
    default: {
      const unsigned char* text = sqlite3_column_text(stmt, column);
      const int length = sqlite3_column_bytes(stmt, column);
      if (text != nullptr) {
        utf8.assign(reinterpret_cast<const char*>(text),
                    static_cast<std::size_t>(length));
      }
      break;
    }
  }
  if (width > 0) {
    int characters = 0;
    for (unsigned char c : utf8) {
      if ((c & 0xC0) != 0x80) ++characters;
    }
    if (characters < width) utf8.append(static_cast<std::size_t>(width - characters), ' ');
  }
  return ToCp932(std::move(utf8));
}

}  // namespace

// ---- CSqliteEngine ----------------------------------------------------------

CSqliteEngine::~CSqliteEngine() { Close(); }

void CSqliteEngine::SetError(const char* state, int native,
                             const std::string& message) {
  error_.state = state;
  error_.native = native;
  error_.message = message;
}

void CSqliteEngine::SetErrorFromDb(bool preparing) {
  const int code = sqlite3_extended_errcode(db_);
  const std::string message = sqlite3_errmsg(db_);
  const int primary = code & 0xFF;
  const char* state = "HY000";
  if (primary == SQLITE_CONSTRAINT) {
    state = "23000";
  } else if (primary == SQLITE_ERROR && message.compare(0, 6, "table ") == 0 &&
             message.size() > 15 &&
             message.compare(message.size() - 15, 15, " already exists") == 0) {
    state = "42S01";
  } else if (primary == SQLITE_ERROR && preparing) {
    state = "42000";
  }
  SetError(state, code, ToCp932(message));
}

bool CSqliteEngine::CreateDatabase(const std::string& path) {
  ClearError();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetError("HY000", SQLITE_CANTOPEN,
             "cannot create " + path + ": " + std::strerror(errno));
    return false;
  }
  ::close(fd);

  // Setting the journal mode writes the file's header, so the new file is a
  // database with the WAL flag from the start.
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db, 1);
    rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    SetError("HY000", db != nullptr ? sqlite3_extended_errcode(db) : rc,
             db != nullptr ? ToCp932(sqlite3_errmsg(db)) : sqlite3_errstr(rc));
  }
  sqlite3_close(db);
  if (rc != SQLITE_OK) {
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

bool CSqliteEngine::Open(const std::string& path) {
  Close();
  ClearError();
  if (path.empty()) {
    // SQLite would open a private temporary database for an empty name.
    SetError("HY000", SQLITE_CANTOPEN, "no database file given");
    return false;
  }
  const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK || !Configure()) {
    if (db_ != nullptr) {
      SetErrorFromDb(false);
    } else {
      SetError("HY000", rc, sqlite3_errstr(rc));
    }
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

bool CSqliteEngine::Configure() {
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (sqlite3_create_collation_v2(db_, kDateCollation, SQLITE_UTF8, nullptr,
                                  CompareDates, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db_, kDateFunction, 1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                 CanonicalDate, nullptr, nullptr,
                                 nullptr) != SQLITE_OK) {
    return false;
  }
  // Reading the schema proves that the file is a database and that it can
  // be read now. Switching to WAL needs a write; on a file that cannot be
  // written the journal mode stays as it is and the connection reads.
  if (sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    return false;
  }
  if (!sqlite3_db_readonly(db_, "main") &&
      sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) !=
          SQLITE_OK) {
    return false;
  }
  return sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr,
                      nullptr) == SQLITE_OK;
}

void CSqliteEngine::Close() {
  Finish();
  if (db_ != nullptr) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
}

void CSqliteEngine::Finish() {
  if (stmt_ != nullptr) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
  hasRow_ = false;
  failed_ = false;
  widths_.clear();
}

bool CSqliteEngine::Execute(const std::string& sql) {
  Finish();
  ClearError();
  if (db_ == nullptr) {
    SetError("HY000", SQLITE_MISUSE, "no database is open");
    return false;
  }
  const std::string utf8 = ToUtf8(sql);
  TableRewrite rewrite;
  if (RewriteCreateTable(utf8, rewrite)) {
    return ExecuteCreateTable(rewrite.statement, rewrite.triggers);
  }
  return Run(utf8);
}

bool CSqliteEngine::Run(const std::string& utf8) {
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db_, utf8.c_str(), static_cast<int>(utf8.size()), &stmt,
                         &tail) != SQLITE_OK) {
    SetErrorFromDb(true);
    sqlite3_finalize(stmt);
    return false;
  }
  if (stmt == nullptr) {
    SetError("42000", SQLITE_ERROR, "no statement to run");
    return false;
  }
  while (tail != nullptr && *tail != '\0' &&
         (std::strchr(" \t\r\n\f\v;", *tail) != nullptr)) {
    ++tail;
  }
  if (tail != nullptr && *tail != '\0') {
    sqlite3_finalize(stmt);
    SetError("42000", SQLITE_ERROR, "only one statement can be run at a time");
    return false;
  }
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    stmt_ = stmt;
    hasRow_ = true;
    const int count = sqlite3_column_count(stmt);
    widths_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      widths_[static_cast<std::size_t>(i)] = CharWidth(sqlite3_column_decltype(stmt, i));
    }
    return true;
  }
  if (rc != SQLITE_DONE) SetErrorFromDb(false);
  sqlite3_finalize(stmt);
  return rc == SQLITE_DONE;
}

// The table and its triggers are made in one savepoint, so a table without
// its triggers never remains.
bool CSqliteEngine::ExecuteCreateTable(const std::string& statement,
                                       const std::vector<std::string>& triggers) {
  if (sqlite3_exec(db_, "SAVEPOINT tickora_create_table", nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    SetErrorFromDb(false);
    return false;
  }
  bool ok = Run(statement);
  for (std::size_t i = 0; ok && i < triggers.size(); ++i) {
    if (sqlite3_exec(db_, triggers[i].c_str(), nullptr, nullptr,
                     nullptr) != SQLITE_OK) {
      SetErrorFromDb(false);
      ok = false;
    }
  }
  if (ok && sqlite3_exec(db_, "RELEASE tickora_create_table", nullptr, nullptr,
                         nullptr) != SQLITE_OK) {
    SetErrorFromDb(false);
    ok = false;
  }
  if (!ok) {
    sqlite3_exec(db_,
                 "ROLLBACK TO tickora_create_table; RELEASE tickora_create_table",
                 nullptr, nullptr, nullptr);
  }
  return ok;
}

CSqliteEngine::StepResult CSqliteEngine::NextRow(int columns,
                                                 std::vector<std::string>& cells) {
  if (db_ == nullptr) {
    SetError("HY000", SQLITE_MISUSE, "no database is open");
    return StepResult::kFailed;
  }
  if (failed_) {
    Finish();
    return StepResult::kFailed;
  }
  if (!hasRow_) {
    Finish();
    return StepResult::kDone;
  }
  const int count = static_cast<int>(widths_.size());
  cells.assign(static_cast<std::size_t>(columns > 0 ? columns : 0), std::string());
  for (int i = 0; i < columns && i < count; ++i) {
    cells[static_cast<std::size_t>(i)] =
        CellText(stmt_, i, widths_[static_cast<std::size_t>(i)]);
  }
  // Step now, so that the statement is finished (and its read snapshot
  // released) as soon as the last row has been read. A failure is
  // reported by the next call.
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return StepResult::kRow;
  if (rc != SQLITE_DONE) {
    SetErrorFromDb(false);
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    hasRow_ = false;
    failed_ = true;
    return StepResult::kRow;
  }
  sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  hasRow_ = false;
  return StepResult::kRow;
}
