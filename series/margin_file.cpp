#include "series/margin_file.h"

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "series/issue_file_path.h"
#include "series/margin.h"
#include "series/record_codec.h"
#include "series/record_file.h"
#include "support/replace_file.h"
#include "support/file_error.h"

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
  if (!SeekToLastRecords(file, kMarginEntryBytes, last_)) {
    std::fclose(file);
    return kCannotSeek;
  }
  const int32_t status = ReadRecords(
      file, kMarginEntryBytes,
      [&margin](const unsigned char* at) { margin.push_back(DecodeMarginEntry(at)); });
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
  std::vector<unsigned char> bytes(margin.size() * kMarginEntryBytes);
  for (size_t i = 0; i < margin.size(); ++i) {
    EncodeMarginEntry(margin[i], bytes.data() + i * kMarginEntryBytes);
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
