#ifndef TICKORA_SERIES_ARCHIVE_FILE_H_
#define TICKORA_SERIES_ARCHIVE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "series/chunk_reader.h"
#include "series/chunk_writer.h"
#include "series/record_codec.h"
#include "series/record_file.h"

// The archive data files carry the prices or margin balances of all issues
// over a range of dates; the archive server publishes them gzip-compressed
// and the archive client reads them once unpacked. Both kinds share one
// layout; every field is little-endian, with no padding:
//
//   header, 8 bytes
//     offset 0  float32  format version: 2.0 now; below 2.0 the old layout
//                        (IsOldFormatVersion)
//     offset 4  uint32   date number of the day the file was made
//   records to the end of the file, each naming its issue:
//     version 2.0 and above: the issue code, zero-terminated, then values
//     old layout: a uint16 issue number, whose decimal text without
//       leading zeros is the code, then the values
//
// The values of a price record are a uint32 date number and five float32
// (open, high, low, close, volume): 24 bytes. Those of a margin record are
// a uint32 date number and two float64 (buy and sell balance): 20 bytes.
// The records of one issue need not follow one another; a reader appends
// each to the series of its code in file order. A file made for a range of
// dates holds, for every issue, its records dated within the range.
//
// This header holds what the two kinds share: the header record and a
// reader and writer of the records' code part.

inline constexpr float kArchiveVersion = 2.0f;
// The version the writers put on old-layout files.
inline constexpr float kArchiveOldVersion = 1.0f;
inline constexpr size_t kArchiveHeaderBytes = 8;
inline constexpr size_t kArchivePriceValueBytes = kBarBytes;
inline constexpr size_t kArchiveMarginValueBytes = kMarginEntryBytes;

struct CArchiveFileHeader {
  float version = kArchiveVersion;
  uint32_t madeDate = 0;

  // Below 2.0; a version that is not a number is not old.
  [[nodiscard]] bool IsOldLayout() const { return IsOldFormatVersion(version); }
};

// CArchiveFileReader reads an archive file record by record: Open takes
// the header, Next hands out the next whole record. The first record that
// is not whole (the file cut or damaged) ends the records. Not copyable.
class CArchiveFileReader {
 public:
  CArchiveFileReader() = default;
  CArchiveFileReader(const CArchiveFileReader&) = delete;
  CArchiveFileReader& operator=(const CArchiveFileReader&) = delete;

  // False when the file cannot be opened or holds less than a header.
  [[nodiscard]] bool Open(const char* path);
  const CArchiveFileHeader& Header() const { return header_; }

  // The values (`valueBytes` of them) of the next whole record, whose code
  // Code() then gives; null at the end. A code runs to the next zero byte,
  // however long, so a damaged file may give long codes, but never longer
  // than the file.
  const unsigned char* Next(size_t valueBytes);
  const std::string& Code() const { return code_; }

  // Records still in the file at most, counting the one at hand; a bound
  // for reserving room.
  uint64_t RecordsLeft(size_t valueBytes) const;

 private:
  CChunkReader in_;
  CArchiveFileHeader header_;
  std::string code_;
  int32_t number_ = -1;  // the issue number code_ was made from (old layout)
};

// CArchiveFileWriter writes an archive file: Create with the header, then
// for each issue BeginIssue and one PutRecord a record, then Finish.
// Records are gathered in memory and handed to the file in large pieces.
// Not copyable.
class CArchiveFileWriter {
 public:
  CArchiveFileWriter() = default;
  CArchiveFileWriter(const CArchiveFileWriter&) = delete;
  CArchiveFileWriter& operator=(const CArchiveFileWriter&) = delete;

  // Whether a layout can hold `code` so that a reader gets it back: the
  // current layout any code without a zero byte; the old layout only the
  // decimal text of a number from 0 to 65535 without leading zeros.
  [[nodiscard]] static bool CanHold(const std::string& code, bool oldLayout);

  // Creates the file and writes the header. False when it cannot be
  // created.
  [[nodiscard]] bool Create(const char* path, const CArchiveFileHeader& header);
  // The code of the records that follow; it must pass CanHold.
  void BeginIssue(const std::string& code);
  // Writes the code part of one record and gives room for its
  // `valueBytes` values, which the caller fills.
  unsigned char* PutRecord(size_t valueBytes);
  // Writes what is pending and closes. True when every write succeeded.
  [[nodiscard]] bool Finish();

 private:
  CChunkWriter out_;
  bool oldLayout_ = false;
  std::string codeBytes_;  // the code part of each record of the issue
};

#endif  // TICKORA_SERIES_ARCHIVE_FILE_H_
