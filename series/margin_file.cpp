#include "series/margin_file.h"

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "series/issue_file_path.h"
#include "series/margin.h"
#include "series/record_file.h"
#include "series/replace_file.h"
#include "support/file_error.h"

namespace {

constexpr size_t kRecordBytes = 20;

// The date number is kept field by field as stored, valid date or not:
// year, month and day below 100 give the same number back on writing.
CMarginRecord DecodeEntry(const unsigned char* at) {
  const uint32_t number = GetLittleU32(at);
  CMarginRecord entry;
  entry.date = CDate(number / 10000u, number / 100u % 100u, number % 100u);
  entry.buy = GetLittleF64(at + 4);
  entry.sell = GetLittleF64(at + 12);
  return entry;
}

void EncodeEntry(const CMarginRecord& entry, unsigned char* at) {
  PutLittleU32(at, entry.date.ToNumber());
  PutLittleF64(at + 4, entry.buy);
  PutLittleF64(at + 12, entry.sell);
}

}  // namespace

CMarginLoaderFile::CMarginLoaderFile(const char* folder, std::string code,
                                     int32_t last)
    : folder_(folder != nullptr ? folder : ""),
      code_(std::move(code)),
      last_(last) {}

int32_t CMarginLoaderFile::Load(CMargin& margin) {
  std::string path;
  if (!BuildMarginFilePath(folder_, code_, path)) return kCannotOpen;
  std::FILE* file = OpenRecordFileForReading(path);
  if (file == nullptr) return kCannotOpen;
  if (!SeekToLastRecords(file, kRecordBytes, last_)) {
    std::fclose(file);
    return kCannotSeek;
  }
  const int32_t status = ReadRecords(
      file, kRecordBytes,
      [&margin](const unsigned char* at) { margin.push_back(DecodeEntry(at)); });
  std::fclose(file);
  return status == kRecordFileOk ? kOk : kCut;
}

CMarginSaverFile::CMarginSaverFile(const char* folder, std::string code)
    : folder_(folder != nullptr ? folder : ""), code_(std::move(code)) {}

int32_t CMarginSaverFile::Save(const CMargin& margin) {
  std::string path;
  if (!BuildMarginFilePath(folder_, code_, path)) return kCannotOpen;
  CReplaceFile out;
  if (!out.Open(path)) return kCannotOpen;
  std::vector<unsigned char> bytes(margin.size() * kRecordBytes);
  for (size_t i = 0; i < margin.size(); ++i) {
    EncodeEntry(margin[i], bytes.data() + i * kRecordBytes);
  }
  // A short write or a failed flush on closing is reported rather than
  // passed over, and the old file stays: a silently cut margin file would
  // look whole to every later reader, while a failed save stops the run
  // with a message.
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out.File()) ==
                           bytes.size();
  if (!written) {
    NoteFileError(errno, out.Target());
    return kCannotWrite;  // `out` removes the new file
  }
  return out.Commit() ? kOk : kCannotWrite;
}
