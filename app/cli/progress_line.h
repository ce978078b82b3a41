#ifndef TICKORA_APP_CLI_PROGRESS_LINE_H_
#define TICKORA_APP_CLI_PROGRESS_LINE_H_

#include <cstdint>
#include <string>

// What the command-line front end shows of a run's progress. All texts
// here are UTF-8; the caller converts the run's CP932 status first.

// The name of a stage as the wizard shows it, e.g.
// "(3) 株価データのダウンロード"; stage 0 (the database being made and the
// issue list pages being read) is "準備中", 5 the end of the run.
std::string StageName(std::int32_t stage);

// CP932 text that may hold bytes from a server (a code, a page's text), as
// UTF-8 for the terminal with every control character replaced by "?":
// C0 controls (line feeds too, unless `keepLineFeeds`), DEL and the C1
// controls, so that no server can move the cursor, recolour the screen or
// set the window title of the user's terminal.
std::string TerminalText(const std::string& cp932, bool keepLineFeeds = false);

// "H:MM:SS" of a number of seconds (negative counts as 0).
std::string FormatDuration(double seconds);

// Seconds still to go, estimated as elapsed / done * (total - done); -1
// when nothing is done yet.
double RemainingSeconds(double elapsed, std::int32_t done, std::int32_t total);

// Columns the text takes on a terminal: two for the wide characters of
// East Asian scripts, one for the rest.
std::size_t DisplayWidth(const std::string& utf8);

// The text cut to at most `columns` columns, never inside a character.
std::string CutToWidth(const std::string& utf8, std::size_t columns);

// One progress line: stage name, a bar of `barWidth` cells, percentage,
// done/total, elapsed and remaining time, and the status; cut to `columns`
// columns.
std::string FormatProgressLine(std::int32_t stage, std::int32_t done,
                               std::int32_t total, double elapsed,
                               const std::string& status, int barWidth,
                               std::size_t columns);

#endif  // TICKORA_APP_CLI_PROGRESS_LINE_H_
