#include "support/issue_code.h"

#include <strings.h>

bool IsAcceptableIssueCode(const std::string& code) {
  if (code.empty() || code.size() > kMaxIssueCodeBytes) return false;
  for (const char c : code) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum) return false;
  }
  return strcasecmp(code.c_str(), "quick2") != 0 && strcasecmp(code.c_str(), "quickmg2") != 0;
}
