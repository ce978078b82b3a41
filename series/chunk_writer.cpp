#include "series/chunk_writer.h"

#include <cstring>

CChunkWriter::~CChunkWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool CChunkWriter::Create(const char* path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = path != nullptr ? std::fopen(path, "wb") : nullptr;
  used_ = 0;
  failed_ = false;
  if (file_ == nullptr) return false;
  if (!chunk_) chunk_ = std::make_unique<unsigned char[]>(kChunkSize);
  return true;
}

unsigned char* CChunkWriter::Extend(size_t size) {
  if (size > kChunkSize) return nullptr;
  if (!chunk_) chunk_ = std::make_unique<unsigned char[]>(kChunkSize);
  // Without a stream the room is scratch that never reaches a file, and
  // the writing counts as failed.
  if (file_ == nullptr) failed_ = true;
  if (used_ + size > kChunkSize) WritePending();
  unsigned char* room = chunk_.get() + used_;
  used_ += size;
  return room;
}

void CChunkWriter::Put(const void* bytes, size_t size) {
  const unsigned char* from = static_cast<const unsigned char*>(bytes);
  while (size > 0) {
    const size_t piece = size < kChunkSize ? size : kChunkSize;
    std::memcpy(Extend(piece), from, piece);
    from += piece;
    size -= piece;
  }
}

void CChunkWriter::WritePending() {
  if (!failed_ && file_ != nullptr && used_ > 0 &&
      std::fwrite(chunk_.get(), 1, used_, file_) != used_) {
    failed_ = true;
  }
  used_ = 0;
}

bool CChunkWriter::Flush() {
  if (file_ == nullptr) return false;
  WritePending();
  if (!failed_ && std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

bool CChunkWriter::Close() {
  if (file_ == nullptr) return false;
  const bool flushed = Flush();
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return flushed && closed;
}
