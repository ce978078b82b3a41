#ifndef TICKORA_SERIES_BUFFER_H_
#define TICKORA_SERIES_BUFFER_H_

#include <cstdint>
#include <string>

// CBuffer is a byte store that downloads are written into and read back
// from. A producer opens it for writing, fills it in pieces and closes it;
// a consumer then opens it for reading and walks it byte by byte or line by
// line. CBufferFile keeps the bytes in a file, CBufferString in memory; the
// HTTP client writes into either, the tokenizers read from either.
//
// Every operation works on a handle: an opaque pointer returned by OpenRead
// or OpenWrite that names one open pass over the store, with its own
// position, and that stays valid until it is given to Close. Several handles
// may be open at a time, but a store is written through one handle at a
// time and read only after that handle is closed. Close every handle before
// the store goes.
//
// A null handle is accepted everywhere and does nothing: Write and ReadLine
// give false, GetChar -1, IsEnd true.
//
// Nothing here is thread-safe; a store and its handles belong to one thread
// at a time.
class CBuffer {
 public:
  using Handle = void*;

  CBuffer() = default;
  CBuffer(const CBuffer&) = delete;
  CBuffer& operator=(const CBuffer&) = delete;
  virtual ~CBuffer() = default;

  // A new pass from the start of the store; null when the store cannot be
  // opened. Opening for writing replaces the previous content.
  virtual Handle OpenRead() = 0;
  virtual Handle OpenWrite() = 0;
  // Ends the pass and releases the handle.
  virtual void Close(Handle handle) = 0;

  // Appends `length` bytes at the handle's position. True when all of them
  // were stored.
  [[nodiscard]] virtual bool Write(Handle handle, const char* bytes, int32_t length) = 0;
  // The next byte, or -1 at the end. See the subclasses for the range of
  // the byte values.
  [[nodiscard]] virtual int32_t GetChar(Handle handle) = 0;
  // Reads one line into `line`, without its line end. False when there is
  // no line (or the store cannot read lines).
  [[nodiscard]] virtual bool ReadLine(Handle handle, std::string& line) = 0;
  [[nodiscard]] virtual bool IsEnd(Handle handle) = 0;
  // Steps back one byte; only after a GetChar that returned a byte.
  virtual void Unget(Handle handle) = 0;
};

#endif  // TICKORA_SERIES_BUFFER_H_
