#ifndef TICKORA_SERIES_CHUNK_READER_H_
#define TICKORA_SERIES_CHUNK_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// CChunkReader reads a binary file from front to back for the readers of
// the quick and archive files, whose records are small and many. It pulls
// the file in with fread in chunks of 1 MiB (of the file's size, when that
// is smaller) and hands out the bytes of one field or record at a time as a
// pointer into its chunk, so that no record costs a call into the C
// library.
//
// The reader owns the stream: Open opens it, the destructor closes it.
// A pointer handed out by Take stays valid until the next call on the
// reader. After a Take or TakeText that failed the reader is at the end;
// the callers stop there, since the bytes before the end do not make a
// whole field.
//
// Nothing here allocates by what the file claims: the chunk is fixed and a
// text grows only by bytes actually read. Left() gives the bytes not yet
// taken, for callers that want to reserve room without trusting a count
// from the file. Not copyable.
class CChunkReader {
 public:
  static constexpr size_t kChunkSize = 1 << 20;

  CChunkReader() = default;
  ~CChunkReader();
  CChunkReader(const CChunkReader&) = delete;
  CChunkReader& operator=(const CChunkReader&) = delete;

  // Opens `path` for binary reading. False when it cannot be opened or is
  // a folder.
  [[nodiscard]] bool Open(const char* path);

  // The next `size` bytes of the file (at most kChunkSize), or null when
  // fewer are left or the file cannot be read. A regular file smaller than
  // kChunkSize gets a chunk of its own size, so a request beyond the size
  // the file had when it was opened fails too.
  const unsigned char* Take(size_t size);

  // Reads bytes up to the next zero byte into `text` (without the zero,
  // which is consumed). False when the file ends or fails first.
  [[nodiscard]] bool TakeText(std::string& text);

  // The bytes not yet taken: the size of the file when it was opened less
  // what has been taken; 0 when the size is unknown (not a regular file).
  uint64_t Left() const { return size_ > taken_ ? size_ - taken_ : 0; }

 private:
  // Reads on until at least `size` bytes are buffered. False when the file
  // ends or fails first.
  [[nodiscard]] bool Fill(size_t size);

  std::FILE* file_ = nullptr;
  std::unique_ptr<unsigned char[]> chunk_;
  size_t capacity_ = 0;  // bytes of chunk_
  size_t begin_ = 0;  // first byte not yet taken
  size_t end_ = 0;    // one past the last buffered byte
  uint64_t size_ = 0;
  uint64_t taken_ = 0;
};

#endif  // TICKORA_SERIES_CHUNK_READER_H_
