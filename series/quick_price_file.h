#ifndef TICKORA_SERIES_QUICK_PRICE_FILE_H_
#define TICKORA_SERIES_QUICK_PRICE_FILE_H_

#include <cstdint>
#include <string>

#include "series/quick_file.h"
#include "series/series_table.h"

// The quick price file "quick2.dat" holds the latest bars of every listed
// issue in one file (layout in series/quick_file.h, magic "QDB2"). After
// the directory come 32-byte records:
//
//   offset 0   8 bytes  issue code, as in the directory
//   offset 8   uint32   date number
//   offset 12  float32  open
//   offset 16  float32  high
//   offset 20  float32  low
//   offset 24  float32  close
//   offset 28  float32  volume
inline constexpr size_t kQuickPriceRecordBytes = 32;

// Writes the quick price file at `path` from `quickMap`, whose series are
// meant to end on one common day, the last complete trading day. `depth`
// is the number of bars an issue the file is meant to hold (320 in the
// setup run): the file begins at the earliest bar, on or after the trading
// day depth - 1 trading days before the common end, of any issue. Every
// issue of the map is in the directory; each writes its bars from that
// begin date on (none when it has none), narrowed to float32.
//
// The first issue in code order that has bars sets the end date. Every
// later issue with bars must end on it (else kQuickFileEndMismatch), and
// is checked for a missing trading day between its first and last bar;
// up to `gapTolerance` such issues are accepted, one more gives
// kQuickFileTooManyGaps and, when `errorText` is given, the message
// "fragmented data (<code>:<first missing day as 2024/1/9(火)>)".
// Both checks come before the file is touched, as does the depth check.
//
// Answers kQuickFileOk or a negative status of series/quick_file.h. The
// series are not changed.
[[nodiscard]] int32_t WriteQuickPriceFile(const char* path, const CChartTable& quickMap,
                            int32_t depth, int32_t gapTolerance,
                            std::string* errorText);

// Reads a quick price file into `table`, which is emptied first: every
// code of the directory gets a series (empty when it has no records), and
// every record is appended as a bar to the series of its code, the values
// widened to float64. Raw close is not stored, so it is left 0. `header`,
// when given, receives the header. False when the file cannot be opened
// or is no quick price file (short header, other magic, version not 1); a
// file cut short gives what is whole before the cut, and true.
[[nodiscard]] bool ReadQuickPriceFile(const char* path, CChartTable& table,
                        CQuickFileHeader* header = nullptr);

#endif  // TICKORA_SERIES_QUICK_PRICE_FILE_H_
