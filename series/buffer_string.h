#ifndef TICKORA_SERIES_BUFFER_STRING_H_
#define TICKORA_SERIES_BUFFER_STRING_H_

#include <cstdint>
#include <string>

#include "series/buffer.h"

// CBufferString keeps the bytes of a CBuffer in memory as one
// zero-terminated text; the page readers download pages into one. It owns
// the block that holds the text, 262144 bytes at first. A write that
// reaches the end of the block moves the text into a block of twice the
// size, so a large page costs only a few copies.
//
// The text never holds a zero byte: Write stores a zero byte as ".". It is
// always terminated inside the block.
//
// A handle is a cursor into the text, allocated by OpenRead and OpenWrite
// and freed by Close. OpenWrite empties the text, even when nothing is
// written afterwards. Growth moves only the cursor that wrote: any other
// handle open at that moment points into the freed block and must not be
// used again.
//
// GetChar returns the byte as a signed character: bytes 0x80-0xFF come
// back as -128 to -1, so a byte 0xFF cannot be told from the end of the
// text. Readers of Shift_JIS pages rely only on the ASCII bytes.
//
// Running out of memory (or growing past 1 GiB, the largest block whose
// size fits the capacity) throws std::bad_alloc, which ends the program.
class CBufferString : public CBuffer {
 public:
  static constexpr int32_t kInitialCapacity = 0x40000;

  CBufferString();
  ~CBufferString() override;

  Handle OpenRead() override;
  Handle OpenWrite() override;
  void Close(Handle handle) override;

  // Stores the bytes at the cursor, then a terminating zero after them (so
  // anything that stood after the cursor is cut off). A negative length
  // stores nothing but the zero. Always true for a valid handle.
  [[nodiscard]] bool Write(Handle handle, const char* bytes, int32_t length) override;
  // -1 at the terminating zero, where the cursor then stays.
  [[nodiscard]] int32_t GetChar(Handle handle) override;
  // Empties `line` and moves the bytes up to a carriage return or line feed
  // into it. That one CR or LF is consumed and not stored: a CR LF pair
  // therefore gives the line and then an empty line. At the end of the
  // text, true only when some bytes were moved.
  [[nodiscard]] bool ReadLine(Handle handle, std::string& line) override;
  // True when the cursor stands on the terminating zero.
  [[nodiscard]] bool IsEnd(Handle handle) override;
  // Moves the cursor back one byte; never before the start of the text.
  void Unget(Handle handle) override;

  // Writes the text, without its terminating zero, to `path` (created or
  // truncated). False when the file cannot be created; the write itself is
  // not checked.
  [[nodiscard]] bool SaveToFile(const std::string& path) const;

  const char* GetText() const { return text_; }
  [[nodiscard]] int32_t GetCapacity() const { return capacity_; }

 private:
  // Moves the text into a block of twice the capacity and returns the
  // position in the new block that corresponds to `cursor`.
  char* Grow(char* cursor);

  char* text_;
  int32_t capacity_;
};

#endif  // TICKORA_SERIES_BUFFER_STRING_H_
