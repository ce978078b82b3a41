#ifndef TICKORA_SUPPORT_ISSUE_CODE_H_
#define TICKORA_SUPPORT_ISSUE_CODE_H_

#include <cstddef>
#include <string>

// The one rule for an issue code that comes from outside (list pages,
// quote pages, archive files) before it may reach the database, a URL, a
// file name or the terminal: 1 to kMaxIssueCodeBytes ASCII letters and
// digits ("7203", "130A"), and not the name of one of the folder's own
// files ("quick2", "quickmg2", in any case: the chart file of "quick2"
// would be the quick price file). Everything else - a path, a quote, a
// control character, a code of another script - is refused.
inline constexpr std::size_t kMaxIssueCodeBytes = 12;

[[nodiscard]] bool IsAcceptableIssueCode(const std::string& code);

#endif  // TICKORA_SUPPORT_ISSUE_CODE_H_
