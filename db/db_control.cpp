#include "db/db_control.h"

#include <strings.h>

#include <cstring>

#include "support/cp932.h"
#include "support/text.h"

namespace {

// The length of `text` cut to at most `limit` bytes, never between the two
// bytes of a CP932 character.
std::size_t CutLength(const char* text, std::size_t length, std::size_t limit) {
  std::size_t cut = 0;
  while (cut < length) {
    const std::size_t step =
        IsCp932LeadByte(static_cast<unsigned char>(text[cut])) && cut + 1 < length ? 2 : 1;
    if (cut + step > limit) break;
    cut += step;
  }
  return cut;
}

// The database file named by a connection string, empty when it names none.
std::string DatabaseOf(const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of(";=", pos);
    if (end == std::string::npos || text[end] == ';') {
      pos = end == std::string::npos ? text.size() : end + 1;
      continue;  // a part without "=" names nothing
    }
    const std::string key = StringTrim(text.substr(pos, end - pos));
    std::string value;
    pos = end + 1;
    const std::size_t brace = text.find_first_not_of(' ', pos);
    if (brace != std::string::npos && text[brace] == '{') {
      pos = brace;
      const std::size_t close = text.find('}', pos + 1);
      const std::size_t stop = close == std::string::npos ? text.size() : close;
      value = text.substr(pos + 1, stop - pos - 1);
      pos = text.find(';', stop);
      pos = pos == std::string::npos ? text.size() : pos + 1;
    } else {
      end = text.find(';', pos);
      if (end == std::string::npos) end = text.size();
      value = text.substr(pos, end - pos);
      pos = end + 1;
    }
    if (strcasecmp(key.c_str(), "Database") == 0 ||
        strcasecmp(key.c_str(), "DBQ") == 0) {
      return value;
    }
  }
  return std::string();
}

}  // namespace

CDBControl::~CDBControl() { Close(); }

bool CDBControl::CreateDatabase(const std::string& path) {
  return engine_.CreateDatabase(path);
}

bool CDBControl::Open(const std::string& path) { return engine_.Open(path); }

bool CDBControl::Connect(const std::string& text) {
  static const char kSuffix[] = ".mdb";
  const std::size_t suffix = sizeof kSuffix - 1;
  if (text.size() >= suffix &&
      text.compare(text.size() - suffix, suffix, kSuffix) == 0) {
    return engine_.Open(text);
  }
  // An empty path fails in the engine, after the old connection is closed.
  return engine_.Open(DatabaseOf(text));
}

void CDBControl::Close() { engine_.Close(); }

bool CDBControl::Execute(const char* sql) {
  // No text is an empty statement, which the engine refuses.
  return engine_.Execute(std::string(sql != nullptr ? sql : ""));
}

bool CDBControl::Fetch(int32_t columnCount, Rows& rows) {
  rows.clear();
  std::vector<std::string> cells;
  for (;;) {
    switch (engine_.NextRow(columnCount, cells)) {
      case CSqliteEngine::StepResult::kDone:
        return true;
      case CSqliteEngine::StepResult::kFailed:
        return false;
      case CSqliteEngine::StepResult::kRow:
        break;
    }
    Row row;
    row.reserve(cells.size());
    for (const std::string& cell : cells) {
      const std::size_t length = std::strlen(cell.c_str());
      row.emplace_back(
          cell.substr(0, CutLength(cell.data(), length, kCellBytes)).c_str());
    }
    rows.push_back(std::move(row));
  }
}

int32_t CDBControl::GetError(std::string* text) const {
  const CSqliteEngine::Error& error = engine_.LastError();
  if (text != nullptr) {
    const std::string message = error.message.substr(
        0, CutLength(error.message.data(), error.message.size(), 255));
    *text = StringFormat("%s(%d)%*s", error.state.c_str(), error.native,
                         static_cast<int>(message.size()), message.c_str());
  }
  return error.native;
}
