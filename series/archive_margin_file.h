#ifndef TICKORA_SERIES_ARCHIVE_MARGIN_FILE_H_
#define TICKORA_SERIES_ARCHIVE_MARGIN_FILE_H_

#include <cstdint>

#include "series/archive_file.h"
#include "series/margin_record.h"
#include "series/series_table.h"

// The archive margin file holds the weekly margin balances of every issue
// over a range of dates (layout in series/archive_file.h). Each record is
// the code part and 20 bytes of values:
//
//   uint32   date number
//   float64  buy balance (買残)
//   float64  sell balance (売残)
//
// so a record is the code's length + 21 bytes in the current layout and 22
// bytes in the old one.

// Reads an archive margin file into `table`, which is emptied first. Each
// record is appended as an entry to the series of its code (made when the
// code is new), in file order. `header`, when given, receives the header.
// False only when the file cannot be opened or holds no whole header; the
// first record that is not whole ends the reading quietly, keeping the
// records before it.
[[nodiscard]] bool ReadArchiveMarginFile(const char* path, CMarginTable& table,
                           CArchiveFileHeader* header = nullptr);

// Writes `table` as an archive margin file with `header`: for each issue in
// code order, its entries dated from `fromDate` to `toDate` (date numbers,
// both included), at full float64 precision. The entries of a series are
// taken to be in ascending date order. A header version below 2.0 writes
// the old layout, which holds only issue numbers (see
// CArchiveFileWriter::CanHold). False when a code of an issue with entries
// in the range cannot be held (found before the file is touched), the file
// cannot be created, or a write fails (an old file at `path` then stays as
// it was: the file is written under a temporary name and renamed).
[[nodiscard]] bool WriteArchiveMarginFile(const char* path, const CMarginTable& table,
                            uint32_t fromDate, uint32_t toDate,
                            const CArchiveFileHeader& header);

#endif  // TICKORA_SERIES_ARCHIVE_MARGIN_FILE_H_
