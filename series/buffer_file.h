#ifndef TICKORA_SERIES_BUFFER_FILE_H_
#define TICKORA_SERIES_BUFFER_FILE_H_

#include <cstdint>
#include <string>

#include "series/buffer.h"
#include "series/temp_file.h"

// CBufferFile keeps the bytes of a CBuffer in a file on disk, for a
// download that should land on disk as it is (the archive client does not
// use one: it unpacks its files as they arrive). The file belongs to the
// store: it is deleted when the store is destroyed, so a downloaded file
// lives exactly as long as the CBufferFile that received it. The
// constructor opens and creates nothing.
//
// A handle is a buffered file stream on the path. OpenRead opens it for
// binary reading, OpenWrite for binary writing (creating or truncating the
// file); both give null when the file cannot be opened.
//
// A file store has no lines and no stepping back: ReadLine always gives
// false and reads nothing, Unget does nothing.
class CBufferFile : public CBuffer {
 public:
  explicit CBufferFile(std::string path);
  ~CBufferFile() override = default;

  Handle OpenRead() override;
  Handle OpenWrite() override;
  void Close(Handle handle) override;

  // True when all `length` bytes were written; false for a short write or a
  // negative length.
  [[nodiscard]] bool Write(Handle handle, const char* bytes, int32_t length) override;
  // The next byte as 0-255, or -1 at the end of the file or on a read error.
  [[nodiscard]] int32_t GetChar(Handle handle) override;
  [[nodiscard]] bool ReadLine(Handle handle, std::string& line) override;
  // True once a read has hit the end of the file (not before).
  [[nodiscard]] bool IsEnd(Handle handle) override;
  void Unget(Handle handle) override;

  const std::string& GetPath() const { return file_; }

 private:
  CTempFile file_;
};

#endif  // TICKORA_SERIES_BUFFER_FILE_H_
