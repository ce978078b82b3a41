#ifndef TICKORA_SERIES_CHUNK_WRITER_H_
#define TICKORA_SERIES_CHUNK_WRITER_H_

#include <cstddef>
#include <cstdio>
#include <memory>

#include "support/replace_file.h"

// CChunkWriter builds a binary file in memory and hands it to the stream in
// pieces of 1 MiB (its chunk starts smaller and grows to that size), for the writers of the quick and archive files: their
// records are small and many, and one fwrite a record would cost more than
// the record.
//
// The writer owns the stream: Create opens it, Close (or the destructor,
// which reports nothing) closes it. The file is written under a temporary
// name and takes its real name only at a Close after which every byte is
// there (see support/replace_file.h); until then, and after any failure or
// a kill, the old file at the path stays as it was. Bytes are put by
// asking for room with Extend and filling it; they reach the file when a
// chunk is full and at Flush and Close. The first failed write is
// remembered: nothing more is written after it, and the next Flush or
// Close answers false. Not copyable.
class CChunkWriter {
 public:
  static constexpr size_t kChunkSize = 1 << 20;

  CChunkWriter() = default;
  ~CChunkWriter();
  CChunkWriter(const CChunkWriter&) = delete;
  CChunkWriter& operator=(const CChunkWriter&) = delete;

  // Starts the file that will replace `path` (a file that was being written
  // is dropped). False when it cannot be created.
  [[nodiscard]] bool Create(const char* path);

  // Room for `size` more bytes, which the caller must fill before the next
  // call. Earlier pending bytes may go to the file to make the room. Null
  // for a size above kChunkSize.
  unsigned char* Extend(size_t size);

  // Appends `size` bytes, of any length.
  void Put(const void* bytes, size_t size);

  // Hands every pending byte to the stream and flushes it to the system.
  // True when every write so far has succeeded.
  [[nodiscard]] bool Flush();

  // Flushes and closes the stream and moves the file into place. True when
  // every write, the close and the move succeeded (else the old file stays
  // and the new one is removed); false too when nothing was created.
  [[nodiscard]] bool Close();

  // True once a write has failed (or bytes were put without a file): the
  // file cannot come out whole.
  [[nodiscard]] bool Failed() const { return failed_; }

 private:
  // Hands the pending bytes to the stream (unless a write failed before).
  void WritePending();
  // Enlarges the chunk towards kChunkSize to hold at least `needed` bytes,
  // keeping the pending ones.
  void Grow(size_t needed);

  CReplaceFile out_;
  std::FILE* file_ = nullptr;  // out_'s stream while it is open
  std::unique_ptr<unsigned char[]> chunk_;
  size_t capacity_ = 0;  // bytes of chunk_, growing up to kChunkSize
  size_t used_ = 0;
  bool failed_ = false;
};

#endif  // TICKORA_SERIES_CHUNK_WRITER_H_
