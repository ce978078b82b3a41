#ifndef TICKORA_SERIES_APPEND_RECORDS_H_
#define TICKORA_SERIES_APPEND_RECORDS_H_

#include <cstddef>
#include <string>

#include "series/chart.h"
#include "series/margin.h"

// Appending to a chart or margin file in place, for an update that adds a
// few records to each of thousands of files: only the new records are
// written, at the end of the file, never the file again.
//
// An append killed half way leaves the file with a part of the new records,
// possibly the last one cut short. CutToWholeRecords takes such a file
// back to its last whole record; what remains is the old file followed by
// the first new records in order, from which the next update (or the
// resumed one) carries on with the records that follow.

// Appends the bars dated after `after` (a date number; 0 for all) to the
// chart file of `code` in `folder`, and the entries dated after `after` to
// its margin file; the files are made when missing. False, with the cause
// noted (support/file_error.h), when the file cannot be opened or written,
// or the code is refused.
[[nodiscard]] bool AppendChartRecords(const std::string& folder, const std::string& code,
                                      const CChart& bars, std::uint32_t after);
[[nodiscard]] bool AppendMarginRecords(const std::string& folder, const std::string& code,
                                       const CMargin& entries, std::uint32_t after);

// Cuts the file at `path` back to a whole number of `recordBytes` records.
// True when it has a whole number now, or is not there; false, with the
// cause noted, when it cannot be cut.
[[nodiscard]] bool CutToWholeRecords(const std::string& path, std::size_t recordBytes);

#endif  // TICKORA_SERIES_APPEND_RECORDS_H_
