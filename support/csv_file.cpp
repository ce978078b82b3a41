#include "support/csv_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

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

  // kAfterQuote: directly after a quote inside quotes; kClosed: the quotes
  // have ended and the rest of the field is dropped.
  enum { kUnquoted, kQuoted, kAfterQuote, kClosed } state = kUnquoted;
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
        // "" inside quotes is one quote; anything else after the closing
        // quote is dropped up to the next comma or line end, and a quote
        // there does not open the field again.
        if (c == '"') {
          field->push_back('"');
          state = kQuoted;
        } else {
          state = kClosed;
        }
        break;
      case kClosed:
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

bool WriteRows(std::FILE* file, const CCsvFile::Rows& rows) {
  std::string line;
  for (const CCsvFile::Row& row : rows) {
    line.clear();
    if (row.size() == 1 && row[0].ToString().empty()) {
      // Written bare, a single empty field would be an empty line and read
      // back as a row without fields; quoted, it keeps its one field.
      line = "\"\"";
    } else {
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0) line.push_back(',');
        AppendField(row[i].ToString(), &line);
      }
    }
    line.push_back('\n');
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
      return false;
    }
  }
  return true;
}

// The file a save replaces: the path itself or, when the path is a symbolic
// link, the file it finally points to, so that the link survives the save.
std::string SaveTarget(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = realpath(path.c_str(), nullptr)) {
      std::string target(real);
      std::free(real);
      return target;
    }
  }
  return path;
}

// Creates a new, empty file beside `target` and returns its descriptor, or
// -1. The name carries the process id and a counter, so concurrent saves do
// not meet; a name left over by a crashed process is stepped over.
int CreateTempBeside(const std::string& target, std::string* temp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = target + ".tmp." + std::to_string(getpid()) + "." +
            std::to_string(counter++);
    int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
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
  const std::string target = SaveTarget(path_);
  struct stat old;
  const bool exists = stat(target.c_str(), &old) == 0;
  // Only a regular file is ever replaced: never a folder or a device.
  if (exists && !S_ISREG(old.st_mode)) return false;

  std::string temp;
  const int fd = CreateTempBeside(target, &temp);
  if (fd < 0) return false;
  if (exists) fchmod(fd, old.st_mode & 07777);
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
    unlink(temp.c_str());
    return false;
  }
  bool ok = WriteRows(file, rows_);
  ok = std::fflush(file) == 0 && ok;
  // The bytes reach the disk before the rename makes them the file, so a
  // crash leaves either the old file or the new one, never an empty one.
  ok = ok && fsync(fd) == 0;
  ok = std::fclose(file) == 0 && ok;
  ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}
