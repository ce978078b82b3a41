#ifndef TICKORA_SERIES_QUICK_MARGIN_FILE_H_
#define TICKORA_SERIES_QUICK_MARGIN_FILE_H_

#include <cstdint>
#include <string>

#include "series/quick_file.h"
#include "series/series_table.h"

// The quick margin file "quickmg2.dat" holds the latest weekly margin
// balances of every issue in one file (layout in series/quick_file.h,
// magic "QMD2"). After the directory come 20-byte records:
//
//   offset 0   8 bytes  issue code, as in the directory
//   offset 8   uint32   date number
//   offset 12  float32  buy balance (買残)
//   offset 16  float32  sell balance (売残)
inline constexpr size_t kQuickMarginRecordBytes = 20;

// Writes the quick margin file at `path` from `quickMap`. The first issue
// in code order that has entries sets the end date (its last entry);
// `depth` is the number of weekly entries an issue the file is meant to
// hold (50 in the setup run): the file begins at the earliest entry, on or
// after the day depth - 1 weeks before the end date, of any issue that
// also ends on the end date. An issue that ends on another day is no
// error: it only has no say in the begin date. Every issue of the map is
// in the directory; each writes its entries from the begin date on (none
// when it has none), the balances narrowed to float32.
//
// Answers kQuickFileOk, kQuickFileBadDepth (depth below 10; nothing is
// written) or a failure to create or write of series/quick_file.h.
// `errorText` is never written; it is taken so that both quick file
// writers are called alike. The series are not changed.
[[nodiscard]] int32_t WriteQuickMarginFile(const char* path, const CMarginTable& quickMap,
                             int32_t depth, std::string* errorText);

// Reads a quick margin file into `table`, which is emptied first: every
// code of the directory gets a series (empty when it has no records), and
// every record is appended as an entry to the series of its code, the
// balances widened to float64. `header`, when given, receives the header.
// False when the file cannot be opened or is no quick margin file (short
// header, other magic, version not 1); a file cut short gives what is
// whole before the cut, and true.
[[nodiscard]] bool ReadQuickMarginFile(const char* path, CMarginTable& table,
                         CQuickFileHeader* header = nullptr);

#endif  // TICKORA_SERIES_QUICK_MARGIN_FILE_H_
