#ifndef TICKORA_SERIES_ARCHIVE_PRICE_FILE_H_
#define TICKORA_SERIES_ARCHIVE_PRICE_FILE_H_

#include <cstdint>

#include "series/archive_file.h"
#include "series/day_record.h"
#include "series/series_table.h"

// The archive price file holds the daily bars of every issue over a range
// of dates (layout in series/archive_file.h). Each record is the code part
// and 24 bytes of values:
//
//   uint32   date number
//   float32  open, high, low, close, volume (in that order)
//
// so a record is the code's length + 25 bytes in the current layout and 26
// bytes in the old one.

// Reads an archive price file into `table`, which is emptied first. Each
// record is appended as a bar to the series of its code (made when the
// code is new), in file order, the values widened to float64 and raw close
// left 0. `header`, when given, receives the header. False only when the
// file cannot be opened or holds no whole header; the first record that is
// not whole ends the reading quietly, keeping the records before it.
[[nodiscard]] bool ReadArchivePriceFile(const char* path, CChartTable& table,
                          CArchiveFileHeader* header = nullptr);

// Writes `table` as an archive price file with `header`: for each issue in
// code order, its bars dated from `fromDate` to `toDate` (date numbers,
// both included), narrowed to float32. The bars of a series are taken to
// be in ascending date order. A header version below 2.0 writes the old
// layout, which holds only issue numbers (see CArchiveFileWriter::CanHold).
// False when a code of an issue with bars in the range cannot be held
// (found before the file is touched), the file cannot be created, or a
// write fails (an old file at `path` then stays as it was: the file is
// written under a temporary name and renamed).
[[nodiscard]] bool WriteArchivePriceFile(const char* path, const CChartTable& table,
                           uint32_t fromDate, uint32_t toDate,
                           const CArchiveFileHeader& header);

#endif  // TICKORA_SERIES_ARCHIVE_PRICE_FILE_H_
