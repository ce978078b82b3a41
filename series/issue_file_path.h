#ifndef TICKORA_SERIES_ISSUE_FILE_PATH_H_
#define TICKORA_SERIES_ISSUE_FILE_PATH_H_

#include <cstddef>
#include <string>

// Every issue has files of its own named after its code (the chart file
// "<folder>/<code>.dat", the margin file "<folder>/mg<code>.dat"), and the
// codes come from web pages and downloaded archives. These builders are the
// one place where a code becomes part of a path, and they take only codes
// that name a plain file directly inside the folder: 1 to 20 bytes, each an
// ASCII letter or digit. Any other code ("/", "..", a NUL, a CP932 byte, a
// blank, more than 20 bytes) is refused, and so is an empty folder or one
// holding a NUL, which would put the file at the root or somewhere
// unintended. The empty code is the one exception: without a code the
// folder argument is taken as the whole path of the file, as the chart and
// margin file loaders and savers promise their callers.
//
// A refused path is reported by false; `path` is then left empty, so a
// caller that ignores the answer still opens nothing.

// The longest code a file name takes.
inline constexpr size_t kMaxIssueFileCodeBytes = 20;

// True when `code` may be part of a file name (never the empty code).
[[nodiscard]] bool IsSafeIssueFileCode(const std::string& code);

// Sets `path` to "<folder>/<prefix><code><suffix>" (to `folder` alone when
// the code is empty) and answers true, or empties it and answers false when
// the folder or code is refused. The
// prefix and suffix are the caller's own constants and are not checked.
[[nodiscard]] bool BuildIssueFilePath(const std::string& folder, const char* prefix,
                        const std::string& code, const char* suffix,
                        std::string& path);

// "<folder>/<code>.dat", the chart file.
[[nodiscard]] bool BuildChartFilePath(const std::string& folder, const std::string& code,
                        std::string& path);
// "<folder>/mg<code>.dat", the margin file.
[[nodiscard]] bool BuildMarginFilePath(const std::string& folder, const std::string& code,
                         std::string& path);

#endif  // TICKORA_SERIES_ISSUE_FILE_PATH_H_
