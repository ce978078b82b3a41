#ifndef TICKORA_SERIES_CHUNK_WRITER_H_
#define TICKORA_SERIES_CHUNK_WRITER_H_

#include <cstddef>
#include <cstdio>
#include <memory>

// CChunkWriter builds a binary file in memory and hands it to the stream in
// pieces of 1 MiB (its chunk starts smaller and grows to that size), for the writers of the quick and archive files: their
// records are small and many, and one fwrite a record would cost more than
// the record.
//
// The writer owns the stream: Create opens it, Close (or the destructor,
// which reports nothing) closes it. Bytes are put by asking for room with
// Extend and filling it; they reach the file when a chunk is full and at
// Flush and Close. The first failed write is remembered: nothing more is
// written after it, so the file is left as far as it got, and the next
// Flush or Close answers false. Not copyable.
class CChunkWriter {
 public:
  static constexpr size_t kChunkSize = 1 << 20;

  CChunkWriter() = default;
  ~CChunkWriter();
  CChunkWriter(const CChunkWriter&) = delete;
  CChunkWriter& operator=(const CChunkWriter&) = delete;

  // Creates `path` for binary writing, truncating an old file. False when
  // it cannot be created.
  bool Create(const char* path);

  // Room for `size` more bytes, which the caller must fill before the next
  // call. Earlier pending bytes may go to the file to make the room. Null
  // for a size above kChunkSize.
  unsigned char* Extend(size_t size);

  // Appends `size` bytes, of any length.
  void Put(const void* bytes, size_t size);

  // Hands every pending byte to the stream and flushes it to the system.
  // True when every write so far has succeeded.
  bool Flush();

  // Flushes and closes the stream. True when every write and the close
  // succeeded; false too when nothing was created.
  bool Close();

 private:
  // Hands the pending bytes to the stream (unless a write failed before).
  void WritePending();
  // Enlarges the chunk towards kChunkSize to hold at least `needed` bytes,
  // keeping the pending ones.
  void Grow(size_t needed);

  std::FILE* file_ = nullptr;
  std::unique_ptr<unsigned char[]> chunk_;
  size_t capacity_ = 0;  // bytes of chunk_, growing up to kChunkSize
  size_t used_ = 0;
  bool failed_ = false;
};

#endif  // TICKORA_SERIES_CHUNK_WRITER_H_
