#include "app/cli/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "setup/worker_progress.h"
#include "support/cp932.h"

std::string StageName(std::int32_t stage) {
  switch (stage) {
    case kStageNone: return "準備中";
    case kStageIssues: return "(1) 銘柄データのダウンロード";
    case kStageSplits: return "(2) 株式分割データのダウンロード";
    case kStagePrices: return "(3) 株価データのダウンロード";
    case kStageMargin: return "(4) 信用残データのダウンロード";
    default: return "完了";
  }
}

std::string FormatDuration(double seconds) {
  const long total = seconds > 0 ? static_cast<long>(seconds) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600,
                total / 60 % 60, total % 60);
  return text;
}

double RemainingSeconds(double elapsed, std::int32_t done,
                        std::int32_t total) {
  if (done <= 0) return -1;
  return elapsed / done * std::max(0, total - done);
}

namespace {

// Decodes the character at `i`, moving `i` past it; malformed bytes count
// as one character each.
char32_t NextChar(const std::string& text, std::size_t& i) {
  const unsigned char lead = text[i];
  std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3
                                   : lead >> 3 == 30 ? 4 : 1;
  if (i + length > text.size()) length = 1;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) c = c << 6 | (text[i + k] & 0x3F);
  i += length;
  return c;
}

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) width += IsWide(NextChar(utf8, i)) ? 2 : 1;
  return width;
}

std::string CutToWidth(const std::string& utf8, std::size_t columns) {
  std::size_t width = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    std::size_t next = i;
    const std::size_t w = IsWide(NextChar(utf8, next)) ? 2 : 1;
    if (width + w > columns) break;
    width += w;
    i = next;
  }
  return utf8.substr(0, i);
}

std::string FormatProgressLine(std::int32_t stage, std::int32_t done,
                               std::int32_t total, double elapsed,
                               const std::string& status, int barWidth,
                               std::size_t columns) {
  const double fraction =
      total > 0 ? std::clamp(static_cast<double>(done) / total, 0.0, 1.0) : 0.0;
  const int filled = static_cast<int>(std::floor(fraction * barWidth));
  std::string bar = "[" + std::string(filled, '#') +
                    std::string(std::max(0, barWidth - filled), '.') + "]";
  const double remaining = RemainingSeconds(elapsed, done, total);
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, " %3d%% %d/%d %s 残り %s ",
                static_cast<int>(fraction * 100), done, total,
                FormatDuration(elapsed).c_str(),
                remaining < 0 ? "-:--:--" : FormatDuration(remaining).c_str());
  return CutToWidth(StageName(stage) + " " + bar + numbers + status, columns);
}

std::string TerminalText(const std::string& cp932, bool keepLineFeeds) {
  const std::string utf8 = Utf8FromCp932(cp932);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == '\n' && keepLineFeeds) {
      out += '\n';
    } else if (c < 0x20 || c == 0x7F) {
      out += '?';
    } else if (c == 0xC2 && i + 1 < utf8.size() &&
               static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      out += '?';  // U+0080 to U+009F
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
