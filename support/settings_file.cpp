#include "support/settings_file.h"

#include <string_view>

// The maps use std::string's own ordering. std::char_traits<char> compares
// characters as unsigned char (for lt and for compare, which is memcmp), so
// names order byte-wise as unsigned bytes, a CP932 lead byte after ASCII,
// whatever the signedness of char.
static_assert(std::string_view("z") < std::string_view("\x81\x40"));
static_assert(std::string_view("ab") < std::string_view("abc"));

namespace {

// The name inside a header row's first field when it is at least three bytes
// long and begins with `open` and ends with `close`.
bool HeaderName(const std::string& first, char open, char close,
                std::string* name) {
  if (first.size() < 3 || first.front() != open || first.back() != close) {
    return false;
  }
  *name = first.substr(1, first.size() - 2);
  return true;
}

}  // namespace

CSettingsFile& CSettingsFile::Instance() {
  // A function-local static is constructed once even when two threads ask
  // at the same time, and destroyed at process exit.
  static CSettingsFile instance;
  return instance;
}

bool CSettingsFile::Load(const std::string& path) {
  sections_.clear();
  lists_.clear();
  if (!document_.Load(path)) return false;
  BuildMaps();
  return true;
}

void CSettingsFile::BuildMaps() {
  Keys* section = nullptr;
  Rows* list = nullptr;
  // Save ends every list with one empty row. That row is taken as the
  // separator, not as content: exactly one empty row directly before the
  // next header, or at the end of the file, is dropped from a list. So a
  // file written by Save reads back as the same lists, including lists that
  // themselves end with empty rows.
  auto close_list = [&list] {
    if (list != nullptr && !list->empty() && list->back().empty()) {
      list->pop_back();
    }
    list = nullptr;
  };
  for (const Row& row : document_.GetRows()) {
    const std::string first = row.empty() ? std::string() : row[0].ToString();
    std::string name;
    if (HeaderName(first, '[', ']', &name)) {
      close_list();
      section = &sections_[name];
      section->clear();
    } else if (HeaderName(first, '<', '>', &name)) {
      close_list();
      section = nullptr;
      list = &lists_[name];
      list->clear();
    } else if (list != nullptr) {
      list->push_back(row);
    } else if (section != nullptr && row.size() == 2) {
      (*section)[first] = row[1];
    }
  }
  close_list();
}

bool CSettingsFile::Save(const std::string& path) {
  BuildRows();
  return document_.Save(path);
}

bool CSettingsFile::Save() {
  BuildRows();
  return document_.Save();
}

void CSettingsFile::BuildRows() {
  Rows& rows = document_.GetRows();
  rows.clear();
  for (const auto& [name, keys] : sections_) {
    rows.push_back(Row{CValue("[" + name + "]")});
    for (const auto& [key, value] : keys) rows.push_back(Row{CValue(key), value});
    rows.emplace_back();
  }
  for (const auto& [name, list] : lists_) {
    rows.push_back(Row{CValue("<" + name + ">")});
    rows.insert(rows.end(), list.begin(), list.end());
    rows.emplace_back();
  }
}

CSettingsFile::Keys& CSettingsFile::Section(const std::string& name) {
  return sections_[name];
}

CSettingsFile::Rows& CSettingsFile::List(const std::string& name) {
  return lists_[name];
}
