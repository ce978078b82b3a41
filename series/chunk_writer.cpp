#include "series/chunk_writer.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "support/file_error.h"

// The replacement's destructor drops a file that was not closed.
CChunkWriter::~CChunkWriter() = default;

bool CChunkWriter::Create(const char* path) {
  out_.Abandon();
  file_ = path != nullptr && out_.Open(path) ? out_.File() : nullptr;
  used_ = 0;
  failed_ = false;
  return file_ != nullptr;
}

unsigned char* CChunkWriter::Extend(size_t size) {
  if (size > kChunkSize) return nullptr;
  // Without a stream the room is scratch that never reaches a file, and
  // the writing counts as failed.
  if (file_ == nullptr) failed_ = true;
  if (used_ + size > capacity_ && capacity_ < kChunkSize) Grow(used_ + size);
  if (used_ + size > capacity_) WritePending();
  unsigned char* room = chunk_.get() + used_;
  used_ += size;
  return room;
}

void CChunkWriter::Grow(size_t needed) {
  // From 64 KiB, doubling up to kChunkSize: a small file never costs a
  // whole chunk, a large one reaches it after a few copies.
  size_t capacity = capacity_ > 0 ? capacity_ : size_t{64} << 10;
  while (capacity < needed && capacity < kChunkSize) capacity *= 2;
  if (capacity > kChunkSize) capacity = kChunkSize;
  auto chunk = std::make_unique_for_overwrite<unsigned char[]>(capacity);
  if (used_ > 0) std::memcpy(chunk.get(), chunk_.get(), used_);
  chunk_ = std::move(chunk);
  capacity_ = capacity;
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
    NoteFileError(errno, out_.Target());
    failed_ = true;
  }
  used_ = 0;
}

bool CChunkWriter::Flush() {
  if (file_ == nullptr) return false;
  WritePending();
  if (!failed_ && std::fflush(file_) != 0) {
    NoteFileError(errno, out_.Target());
    failed_ = true;
  }
  return !failed_;
}

bool CChunkWriter::Close() {
  if (file_ == nullptr) return false;
  const bool flushed = Flush();
  file_ = nullptr;
  if (!flushed) {
    out_.Abandon();
    return false;
  }
  return out_.Commit();
}
