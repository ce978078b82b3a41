#include "series/quick_margin_file.h"

#include <cstring>

#include "series/record_file.h"
#include "support/date.h"

namespace {

// `date` moved back by `weeks` times 7 days. A date the calendar cannot
// move any further stops the walk, so a huge depth costs little.
CDate WeeksBefore(CDate date, int32_t weeks) {
  for (int32_t i = 0; i < weeks; ++i) {
    const CDate before = date;
    date = date.SubDays(7);
    if (date == before) break;
  }
  return date;
}

}  // namespace

int32_t WriteQuickMarginFile(const char* path, const CMarginTable& quickMap,
                             int32_t depth, std::string* /*errorText*/) {
  if (depth < kQuickMinDepth) return kQuickFileBadDepth;

  const auto date_of = [](const CMarginRecord& entry) { return entry.date.ToNumber(); };
  uint32_t end = 0, start = 0, begin = 0;
  for (const auto& [code, series] : quickMap) {
    if (end == 0 && !series.empty()) {
      end = date_of(series.back());
      start = WeeksBefore(series.back().date, depth - 1).ToNumber();
      begin = FirstDateFrom(series, start, date_of);
    } else if (series.empty() || date_of(series.back()) != end) {
      continue;  // written all the same, but no say in the begin date
    }
    if (begin > start) {
      const uint32_t first = FirstDateFrom(series, start, date_of);
      if (first != 0 && first < begin) begin = first;
    }
  }

  return WriteQuickFile(
      path, kQuickMarginMagic, quickMap, begin, end, kQuickMarginRecordBytes, date_of,
      [](const CMarginRecord& entry, unsigned char* at) {
        PutLittleF32(at + 12, static_cast<float>(entry.buy));
        PutLittleF32(at + 16, static_cast<float>(entry.sell));
      });
}

bool ReadQuickMarginFile(const char* path, CMarginTable& table,
                         CQuickFileHeader* header) {
  table.clear();
  CQuickFileReader in;
  if (!in.Open(path, kQuickMarginMagic)) return false;
  if (header != nullptr) *header = in.Header();
  for (const std::string& code : in.Codes()) table[code];
  CSeriesCursor<CMargin> cursor(table);
  while (const unsigned char* at = in.Next(kQuickMarginRecordBytes)) {
    const uint32_t date = GetLittleU32(at + 8);
    CMarginRecord entry;
    entry.date = CDate(date / 10000u, date / 100u % 100u, date % 100u);
    entry.buy = GetLittleF32(at + 12);
    entry.sell = GetLittleF32(at + 16);
    cursor.At(GetQuickCode(at), in.RecordsLeft(kQuickMarginRecordBytes))
        .push_back(entry);
  }
  return true;
}
