#ifndef TICKORA_SERIES_QUICK_FILE_H_
#define TICKORA_SERIES_QUICK_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "series/chunk_reader.h"
#include "series/chunk_writer.h"
#include "series/dated_find.h"

// The quick files hold the latest bars ("quick2.dat" in the daily folder)
// or margin balances ("quickmg2.dat" in the margin folder) of every issue
// in one file, so the charting application can show all issues without
// opening thousands of files. Both share one layout; every field is
// little-endian, with no padding:
//
//   header, 20 bytes
//     offset 0   4 bytes  magic: "QDB2" (prices) or "QMD2" (margin)
//     offset 4   uint32   version, 1
//     offset 8   uint32   begin date: the earliest date of the records
//     offset 12  uint32   end date: the last date of the first issue, in
//                         code order, that has any records (0: none)
//     offset 16  uint32   issue count N
//   directory, N entries of 8 bytes: the issue codes in ascending byte
//     order, each padded with zero bytes to 8 (a code of 8 bytes has no
//     zero; a longer one is cut to 8). Issues without records are listed.
//   records to the end of the file, of a fixed size per kind, each
//     beginning with the code as in the directory and a uint32 date
//     number. The records of one issue follow one another, in directory
//     order, in ascending date order.
//
// Dates are date numbers (year * 10000 + month * 100 + day); 0 is no date.
// This header holds what the price and margin kinds share: the header
// record, the writers' statuses, the code field, and a reader and writer of
// the header and directory.

inline constexpr char kQuickPriceMagic[] = "QDB2";
inline constexpr char kQuickMarginMagic[] = "QMD2";
inline constexpr uint32_t kQuickFileVersion = 1;
inline constexpr size_t kQuickHeaderBytes = 20;
inline constexpr size_t kQuickCodeBytes = 8;
// Writers refuse a depth (bars or entries an issue) below this.
inline constexpr int32_t kQuickMinDepth = 10;

// Statuses of the quick file writers. Those marked "nothing is written"
// are found before the file is touched. The file is written under a
// temporary name and renamed into place when whole (series/chunk_writer.h),
// so after any failure, or a kill, an old file stays as it was.
enum : int32_t {
  kQuickFileOk = 0,
  kQuickFileBadDepth = -1,         // depth below 10; nothing is written
  kQuickFileEndMismatch = -100,    // prices: an issue ends on another day;
                                   // nothing is written
  kQuickFileCannotCreate = -102,
  kQuickFileTooManyGaps = -110,    // prices: more issues with a missing
                                   // trading day than tolerated; nothing
                                   // is written
  kQuickFileHeaderFailed = -200,
  kQuickFileRecordFailed = -201,   // also a failure to close the file
  kQuickFileDirectoryFailed = -202,
};

struct CQuickFileHeader {
  char magic[4] = {};
  uint32_t version = 0;
  uint32_t beginDate = 0;
  uint32_t endDate = 0;
  uint32_t count = 0;
};

// Stores the first 8 bytes of `code` at `at`, padded with zero bytes.
void PutQuickCode(unsigned char* at, const std::string& code);
// The code of an 8-byte field: its bytes up to the first zero, at most 8.
std::string GetQuickCode(const unsigned char* at);

// CQuickFileWriter writes one quick file in one pass: Create, the header,
// one directory entry an issue, EndDirectory, the records, Finish. Each
// step that can fail answers the writers' status for it; after a failure
// the caller stops (the destructor closes the file). Records are gathered
// in memory and handed to the file in large pieces. Not copyable.
class CQuickFileWriter {
 public:
  CQuickFileWriter() = default;
  CQuickFileWriter(const CQuickFileWriter&) = delete;
  CQuickFileWriter& operator=(const CQuickFileWriter&) = delete;

  // kQuickFileOk or kQuickFileCannotCreate.
  [[nodiscard]] int32_t Create(const char* path);
  // kQuickFileOk or kQuickFileHeaderFailed.
  [[nodiscard]] int32_t WriteHeader(const CQuickFileHeader& header);
  void PutDirectoryEntry(const std::string& code);
  // kQuickFileOk or kQuickFileDirectoryFailed.
  [[nodiscard]] int32_t EndDirectory();
  // Room for one record of `recordBytes`, with the code field (8 bytes, as
  // PutQuickCode made it) and the date filled in; the caller fills the
  // values from offset 12 on.
  unsigned char* PutRecord(const unsigned char* code, uint32_t date,
                           size_t recordBytes);
  // Writes what is pending and closes: kQuickFileOk or
  // kQuickFileRecordFailed.
  [[nodiscard]] int32_t Finish();

 private:
  CChunkWriter out_;
};

// The date number of the first record of `series` on or after date number
// `date`; 0 when every record is earlier.
template <typename Series, typename DateOf>
uint32_t FirstDateFrom(const Series& series, uint32_t date, DateOf dateOf) {
  int32_t index = 0;
  return series.Find(date, index, kFindExactOrLater) ? dateOf(series[index]) : 0;
}

// Writes a whole quick file: the header (`magic`, version 1, `begin`, `end`
// and the number of issues), the directory of the map's codes, then the
// records of every issue from `begin` on. `dateOf(record)` gives a record's
// date number and `encode(record, at)` fills its values from offset 12.
// Answers the first failing step's status, or kQuickFileOk.
template <typename Map, typename DateOf, typename Encode>
[[nodiscard]] int32_t WriteQuickFile(const char* path, const char* magic, const Map& map,
                       uint32_t begin, uint32_t end, size_t recordBytes,
                       DateOf dateOf, Encode encode) {
  CQuickFileHeader header;
  std::memcpy(header.magic, magic, 4);
  header.version = kQuickFileVersion;
  header.beginDate = begin;
  header.endDate = end;
  header.count = static_cast<uint32_t>(map.size());

  CQuickFileWriter out;
  int32_t status = out.Create(path);
  if (status == kQuickFileOk) status = out.WriteHeader(header);
  if (status != kQuickFileOk) return status;
  for (const auto& entry : map) out.PutDirectoryEntry(entry.first);
  status = out.EndDirectory();
  if (status != kQuickFileOk) return status;

  unsigned char code[kQuickCodeBytes];
  for (const auto& [name, series] : map) {
    int32_t first = 0;
    if (!series.Find(begin, first, kFindExactOrLater)) continue;
    PutQuickCode(code, name);
    for (size_t i = static_cast<size_t>(first); i < series.size(); ++i) {
      encode(series[i], out.PutRecord(code, dateOf(series[i]), recordBytes));
    }
  }
  return out.Finish();
}

// CQuickFileReader reads a quick file of one kind: Open checks the header
// and takes the directory, Next hands out the records. A file cut inside
// the directory keeps the entries that are whole; a record cut short ends
// the records. Not copyable.
class CQuickFileReader {
 public:
  CQuickFileReader() = default;
  CQuickFileReader(const CQuickFileReader&) = delete;
  CQuickFileReader& operator=(const CQuickFileReader&) = delete;

  // False when the file cannot be opened, holds less than a header, or its
  // magic is not `magic` (4 bytes) or its version not 1.
  [[nodiscard]] bool Open(const char* path, const char* magic);

  const CQuickFileHeader& Header() const { return header_; }
  // The codes of the directory entries that are whole, in file order.
  const std::vector<std::string>& Codes() const { return codes_; }

  // The next whole record of `recordBytes`, or null at the end.
  const unsigned char* Next(size_t recordBytes) {
    return in_.Take(recordBytes);
  }
  // Whole records of `recordBytes` still in the file, counting the one at
  // hand; a bound for reserving room.
  uint64_t RecordsLeft(size_t recordBytes) const {
    return in_.Left() / recordBytes + 1;
  }

 private:
  CChunkReader in_;
  CQuickFileHeader header_;
  std::vector<std::string> codes_;
};

#endif  // TICKORA_SERIES_QUICK_FILE_H_
