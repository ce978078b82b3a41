#include "series/record_file.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace {

constexpr size_t kChunkTarget = 64 * 1024;
constexpr size_t kDateBytes = 4;

}  // namespace

std::FILE* OpenRecordFileForReading(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool SeekToLastRecords(std::FILE* file, size_t recordSize, int32_t last) {
  if (last <= 0) return true;
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  const off_t size = ftello(file);
  if (size < 0) return false;
  // Counted in whole records from the start of the file, so that 1-3 bytes
  // after the last record (which a whole read ignores) do not shift every
  // record read. At most 2^31 records: well inside 64 bits.
  const int64_t whole = static_cast<int64_t>(size) / static_cast<int64_t>(recordSize);
  const off_t to = last < whole ? static_cast<off_t>((whole - last) * recordSize) : 0;
  return fseeko(file, to, SEEK_SET) == 0;
}

size_t RecordChunkSize(size_t recordSize) {
  if (recordSize >= kChunkTarget) return recordSize;
  return kChunkTarget / recordSize * recordSize;
}

int32_t FinishRecords(std::FILE* file, size_t leftOver) {
  if (std::ferror(file) != 0) return kRecordFileCut;
  return leftOver < kDateBytes ? kRecordFileOk : kRecordFileCut;
}
