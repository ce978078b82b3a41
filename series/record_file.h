#ifndef TICKORA_SERIES_RECORD_FILE_H_
#define TICKORA_SERIES_RECORD_FILE_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Helpers shared by the readers and writers of the binary data files: files
// with no header and a run of fixed-size records to the end, each record
// starting with a 4-byte date number, every field little-endian.
//
// The codec functions read and write the bytes one by one, so they give the
// same file on any host. The reading functions work on a stream the caller
// opened and still closes.

inline void PutLittleU32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline void PutLittleU64(unsigned char* at, uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline void PutLittleF32(unsigned char* at, float value) {
  PutLittleU32(at, std::bit_cast<uint32_t>(value));
}
inline void PutLittleF64(unsigned char* at, double value) {
  PutLittleU64(at, std::bit_cast<uint64_t>(value));
}

[[nodiscard]] inline uint32_t GetLittleU32(const unsigned char* at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}
inline uint64_t GetLittleU64(const unsigned char* at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}
inline float GetLittleF32(const unsigned char* at) {
  return std::bit_cast<float>(GetLittleU32(at));
}
inline double GetLittleF64(const unsigned char* at) {
  return std::bit_cast<double>(GetLittleU64(at));
}

// The archive files, the issue list file and the split list file begin with
// a float32 format version. One rule holds for all their readers and
// writers: a version below 2.0 selects the old layout; 2.0 and above, and a
// version that is not a number, the current one.
[[nodiscard]] inline bool IsOldFormatVersion(float version) { return version < 2.0f; }

// Outcomes of reading a record file; the loaders report them as their
// statuses.
enum : int32_t {
  kRecordFileOk = 0,          // read to the end of the file
  kRecordFileCannotOpen = -1,
  kRecordFileCut = -2,        // a record incomplete, or a read error
  kRecordFileCannotSeek = -3, // moving within the file or its size failed
};

// Opens `path` for binary reading; null when it cannot be opened or is a
// folder (which the C library would open, only to fail on the first read).
std::FILE* OpenRecordFileForReading(const std::string& path);

// Moves to the start of the last `last` whole records (the records being
// counted from the start of the file, so a part of one at the end is not
// one of them), or to the start when the file holds no more than that many. Nothing moves for `last` 0 or less. False when moving or
// taking the size fails. The count is taken as a bound only: a count far
// beyond the file costs nothing.
[[nodiscard]] bool SeekToLastRecords(std::FILE* file, size_t recordSize, int32_t last);

// Reads records of `recordSize` bytes from the current position to the end
// of the file, in chunks of about 64 KiB, and hands each whole record to
// `take(const unsigned char*)` in file order. At the end, left-over bytes
// too few to hold a date (under 4) are ignored and the answer is
// kRecordFileOk; a date without all its values, or a read error, gives
// kRecordFileCut after the whole records before it were handed over.
template <typename Take>
[[nodiscard]] int32_t ReadRecords(std::FILE* file, size_t recordSize, Take take);

// ---- Implementation ---------------------------------------------------------

size_t RecordChunkSize(size_t recordSize);
[[nodiscard]] int32_t FinishRecords(std::FILE* file, size_t leftOver);

template <typename Take>
[[nodiscard]] int32_t ReadRecords(std::FILE* file, size_t recordSize, Take take) {
  const size_t capacity = RecordChunkSize(recordSize);
  std::string chunk(capacity, '\0');
  unsigned char* bytes = reinterpret_cast<unsigned char*>(chunk.data());
  for (;;) {
    const size_t got = std::fread(bytes, 1, capacity, file);
    const size_t whole = got / recordSize;
    for (size_t i = 0; i < whole; ++i) take(bytes + i * recordSize);
    // The chunk is a whole number of records, so only a short read (the end
    // of the file, or an error) leaves a part of one.
    if (got < capacity) return FinishRecords(file, got - whole * recordSize);
  }
}

#endif  // TICKORA_SERIES_RECORD_FILE_H_
