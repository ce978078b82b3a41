#ifndef TICKORA_TESTS_COMMON_DATABASE_FOLDER_H_
#define TICKORA_TESTS_COMMON_DATABASE_FOLDER_H_

// Reading a finished database folder back for comparison with another:
// the database's tables row by row, the other files byte for byte.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/common/temp_dir.h"

// Every table of the database file, each as its rows sorted (so a row
// written twice shows), a row as its columns' types and bytes. Empty when
// the file cannot be opened.
inline std::map<std::string, std::vector<std::string>> ReadTables(const std::string& file) {
  std::map<std::string, std::vector<std::string>> tables;
  sqlite3* db = nullptr;
  // Calls `row` with the statement at each row of `sql`.
  auto each = [&db](const std::string& sql, const std::function<void(sqlite3_stmt*)>& row) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) row(stmt);
    sqlite3_finalize(stmt);
  };
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    each("SELECT name FROM sqlite_master WHERE type='table'", [&](sqlite3_stmt* table) {
      const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(table, 0));
      std::vector<std::string>& rows = tables[name];
      each("SELECT * FROM \"" + name + "\"", [&](sqlite3_stmt* stmt) {
        std::string row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
          const char* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, c));
          row += std::to_string(sqlite3_column_type(stmt, c)) + ":" +
                 std::string(bytes ? bytes : "", sqlite3_column_bytes(stmt, c)) + "|";
        }
        rows.push_back(row);
      });
      std::sort(rows.begin(), rows.end());
    });
  }
  sqlite3_close(db);
  return tables;
}

// The files of a folder by relative path, with their bytes; the database
// files are left out (compare them with ReadTables). The record of the
// setup goes without its clock reading, which is each run's own: two runs
// at different moments leave the same data.
inline std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> files;
  std::error_code ec;  // a folder that is not there has no files
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_regular_file() && name.rfind("stock.mdb", 0) != 0) {
      std::string bytes = FileBytes(entry.path().string());
      if (name == "setup-record.ini") {
        bytes = std::regex_replace(bytes, std::regex("(today|hour|minute)=\\d+\n"), "");
      }
      files[name] = std::move(bytes);
    }
  }
  return files;
}

// What differs between the folders `got` and `want`: files missing, extra
// or with other bytes, and tables with other rows; empty when they are the
// same. `keep` picks the files (by relative path, `table` false) and the
// tables (by name, `table` true) that are compared.
inline std::string FolderDifferences(
    const std::string& got, const std::string& want,
    const std::function<bool(const std::string& name, bool table)>& keep =
        [](const std::string&, bool) { return true; }) {
  std::map<std::string, std::string> files[2] = {FolderFiles(got), FolderFiles(want)};
  for (auto& folder : files) std::erase_if(folder, [&](const auto& f) { return !keep(f.first, false); });
  std::string out;
  for (const auto& [name, bytes] : files[1]) {
    if (!files[0].count(name)) out += " missing " + name;
    else if (files[0][name] != bytes) out += " differs " + name;
  }
  for (const auto& entry : files[0]) {
    if (!files[1].count(entry.first)) out += " extra " + entry.first;
  }
  auto got_tables = ReadTables(got + "/stock.mdb");
  const auto want_tables = ReadTables(want + "/stock.mdb");
  if (want_tables.empty()) out += " no tables";
  for (const auto& [name, rows] : want_tables) {
    if (keep(name, true) && got_tables[name] != rows) {
      out += " table " + name + ": " + std::to_string(got_tables[name].size()) + " rows, want " +
             std::to_string(rows.size());
    }
  }
  return out;
}

#endif  // TICKORA_TESTS_COMMON_DATABASE_FOLDER_H_
