#include "series/issue_file_path.h"

bool IsSafeIssueFileCode(const std::string& code) {
  if (code.empty() || code.size() > kMaxIssueFileCodeBytes) return false;
  for (const char c : code) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit) return false;
  }
  return true;
}

bool BuildIssueFilePath(const std::string& folder, const char* prefix,
                        const std::string& code, const char* suffix,
                        std::string& path) {
  path.clear();
  if (folder.empty() || folder.find('\0') != std::string::npos) return false;
  if (code.empty()) {
    path = folder;
    return true;
  }
  if (!IsSafeIssueFileCode(code)) return false;
  path = folder;
  path += '/';
  path += prefix;
  path += code;
  path += suffix;
  return true;
}

bool BuildChartFilePath(const std::string& folder, const std::string& code,
                        std::string& path) {
  return BuildIssueFilePath(folder, "", code, ".dat", path);
}

bool BuildMarginFilePath(const std::string& folder, const std::string& code,
                         std::string& path) {
  return BuildIssueFilePath(folder, "mg", code, ".dat", path);
}
