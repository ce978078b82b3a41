#include "series/chunk_reader.h"

#include <sys/stat.h>

#include <cstring>

#include "series/record_file.h"

CChunkReader::~CChunkReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool CChunkReader::Open(const char* path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = path != nullptr ? OpenRecordFileForReading(path) : nullptr;
  begin_ = end_ = 0;
  size_ = taken_ = 0;
  if (file_ == nullptr) return false;
  struct stat info {};
  size_t wanted = kChunkSize;
  if (fstat(fileno(file_), &info) == 0 && S_ISREG(info.st_mode)) {
    size_ = static_cast<uint64_t>(info.st_size);
    // Small files are common (one issue's data, a short range of dates,
    // a fuzzer's inputs): a chunk as large as the file costs no more than
    // the file.
    if (size_ < kChunkSize) wanted = size_ > 0 ? static_cast<size_t>(size_) : 1;
  }
  if (capacity_ < wanted) {
    chunk_ = std::make_unique_for_overwrite<unsigned char[]>(wanted);
    capacity_ = wanted;
  }
  return true;
}

bool CChunkReader::Fill(size_t size) {
  if (file_ == nullptr || size > capacity_) return false;
  if (begin_ > 0) {
    std::memmove(chunk_.get(), chunk_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  while (end_ < size) {
    const size_t got =
        std::fread(chunk_.get() + end_, 1, capacity_ - end_, file_);
    if (got == 0) return false;
    end_ += got;
  }
  return true;
}

const unsigned char* CChunkReader::Take(size_t size) {
  if (end_ - begin_ < size && !Fill(size)) {
    begin_ = end_ = 0;
    return nullptr;
  }
  const unsigned char* bytes = chunk_.get() + begin_;
  begin_ += size;
  taken_ += size;
  return bytes;
}

bool CChunkReader::TakeText(std::string& text) {
  text.clear();
  for (;;) {
    const unsigned char* from = chunk_ ? chunk_.get() + begin_ : nullptr;
    const size_t have = end_ - begin_;
    const void* zero = have > 0 ? std::memchr(from, 0, have) : nullptr;
    if (zero != nullptr) {
      const size_t length = static_cast<const unsigned char*>(zero) - from;
      text.append(reinterpret_cast<const char*>(from), length);
      begin_ += length + 1;
      taken_ += length + 1;
      return true;
    }
    if (have > 0) text.append(reinterpret_cast<const char*>(from), have);
    taken_ += have;
    begin_ = end_ = 0;
    if (!Fill(1)) return false;
  }
}
