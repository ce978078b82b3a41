#include "support/csv_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "support/replace_file.h"

namespace {

enum class Token { kEnd, kLineEnd, kSeparator, kField };

// Splits a file into line ends, separators and fields. Reads through stdio's
// buffer and never needs more than one byte pushed back.
//
// Line ends: files of this format come from systems whose text mode turns a
// CR LF pair into one line end, so a CR directly followed by LF is one line
// end here too; a lone CR and a lone LF are one line end each.
class Tokenizer {
 public:
  explicit Tokenizer(std::FILE* file) : file_(file) {}

  // Returns the next token; for kField, `field` holds the field's text.
  Token Next(std::string* field);

 private:
  int Get() { return std::getc(file_); }
  void Unget(int c) { std::ungetc(c, file_); }

  std::FILE* file_;
};

Token Tokenizer::Next(std::string* field) {
  field->clear();
  int c = Get();
  if (c == EOF) return Token::kEnd;
  if (c == '\r') {
    int next = Get();
    if (next != '\n' && next != EOF) Unget(next);
    return Token::kLineEnd;
  }
  if (c == '\n') return Token::kLineEnd;
  if (c == ',') return Token::kSeparator;

  // kAfterQuote: after a quote that may close the quoted part.
  enum { kUnquoted, kQuoted, kAfterQuote } state = kUnquoted;
  if (c == '"') {
    state = kQuoted;
  } else {
    field->push_back(static_cast<char>(c));
  }
  while ((c = Get()) != EOF) {
    // A line end always ends the field; a comma does unless it is quoted.
    if (c == '\r' || c == '\n' || (c == ',' && state != kQuoted)) {
      Unget(c);
      return Token::kField;
    }
    switch (state) {
      case kUnquoted:
        field->push_back(static_cast<char>(c));
        break;
      case kQuoted:
        if (c == '"') {
          state = kAfterQuote;
        } else {
          field->push_back(static_cast<char>(c));
        }
        break;
      case kAfterQuote:
        // A quote here gives one quote and the field is quoted again, both
        // directly ("" inside quotes) and after dropped bytes: '"ab"cd"ef"'
        // reads as 'ab"ef'. Any other byte is dropped.
        if (c == '"') {
          field->push_back('"');
          state = kQuoted;
        }
        break;
    }
  }
  // A last line without a line end is read as if it had one: its last field
  // is returned here rather than lost, so a hand-edited file that lacks the
  // final newline keeps its last key.
  return Token::kField;
}

void ReadRows(std::FILE* file, CCsvFile::Rows* rows) {
  Tokenizer tokenizer(file);
  enum { kRowStart, kAfterField, kAfterSeparator } state = kRowStart;
  CCsvFile::Row row;
  std::string text;
  Token last = Token::kEnd;
  for (Token token; (token = tokenizer.Next(&text)) != Token::kEnd;
       last = token) {
    switch (token) {
      case Token::kLineEnd:
        if (state == kAfterSeparator) row.emplace_back(std::string());
        rows->push_back(std::move(row));
        row.clear();
        state = kRowStart;
        break;
      case Token::kSeparator:
        if (state != kAfterField) row.emplace_back(std::string());
        state = kAfterSeparator;
        break;
      case Token::kField:
        row.emplace_back(text);
        state = kAfterField;
        break;
      case Token::kEnd:
        break;
    }
  }
  if (last == Token::kSeparator) row.emplace_back(std::string());
  if (!row.empty()) rows->push_back(std::move(row));
}

void AppendField(const std::string& text, std::string* line) {
  if (text.find_first_of(",\"") == std::string::npos) {
    line->append(text);
    return;
  }
  line->push_back('"');
  for (char c : text) {
    if (c == '"') line->push_back('"');
    line->push_back(c);
  }
  line->push_back('"');
}

// The rows as the file holds them.
std::string RowsText(const CCsvFile::Rows& rows) {
  std::string text;
  for (const CCsvFile::Row& row : rows) {
    if (row.size() == 1 && row[0].ToString().empty()) {
      // Written bare, a single empty field would be an empty line and read
      // back as a row without fields; quoted, it keeps its one field.
      text += "\"\"";
    } else {
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0) text.push_back(',');
        AppendField(row[i].ToString(), &text);
      }
    }
    text.push_back('\n');
  }
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = pwrite(fd, text.data() + done, text.size() - done,
                             static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// True when replacing the open file `fd`, described by `st`, with a new
// file under the same name would change nothing but its content: it has no
// other name (a hard link would keep the old content), it belongs to the
// user saving (a new file would change owner), and it carries no access
// control list (a new file would lose it).
bool ReplacingChangesNothingElse(int fd, const struct stat& st) {
  if (st.st_nlink != 1 || st.st_uid != geteuid()) return false;
  return fgetxattr(fd, "system.posix_acl_access", nullptr, 0) < 0 &&
         (errno == ENODATA || errno == ENOTSUP);
}

}  // namespace

bool CCsvFile::Load(const std::string& path) {
  rows_.clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  Rows rows;
  ReadRows(file, &rows);
  // A folder opens but cannot be read; that, like any read error, fails.
  const bool ok = !std::ferror(file);
  std::fclose(file);
  if (!ok) return false;
  rows_ = std::move(rows);
  path_ = path;
  return true;
}

bool CCsvFile::Save(const std::string& path) {
  path_ = path;
  return Save();
}

bool CCsvFile::Save() {
  if (path_.empty()) return false;
  const std::string text = RowsText(rows_);
  // The file's own permissions decide: a file that this user cannot open
  // for writing is refused and left as it is. O_NONBLOCK keeps a FIFO from
  // holding the open; only a regular file is ever written.
  const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    // No file yet (a dangling link makes its target): nothing to keep.
    if (errno != ENOENT) return false;
    return ReplaceFileWith(path_, text, CReplaceFile::kSync);
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  // Replacing the file by a new one protects it from a half-written save,
  // but only where that changes nothing else about it; otherwise, and when
  // its folder takes no new file, the file itself is written.
  if (ReplacingChangesNothingElse(fd, st)) {
    CReplaceFile out;
    struct stat named;
    // The name still leads to the file opened above, and the new file
    // could be given its permission bits and group.
    if (out.Open(path_, CReplaceFile::kSync) && out.Replacing() && out.KeptAttributes() &&
        stat(out.Target().c_str(), &named) == 0 && named.st_ino == st.st_ino &&
        named.st_dev == st.st_dev) {
      close(fd);
      return std::fwrite(text.data(), 1, text.size(), out.File()) == text.size() &&
             out.Commit();
    }
  }
  bool ok = WriteAll(fd, text);
  ok = ok && ftruncate(fd, static_cast<off_t>(text.size())) == 0;
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  return ok;
}
