#ifndef TICKORA_TESTS_WEB_RECORDING_BUFFER_H_
#define TICKORA_TESTS_WEB_RECORDING_BUFFER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "series/buffer_string.h"

// A memory buffer that remembers how it was used: how often it was opened
// for writing and closed, and the length of every write. It can be told to
// refuse opening for writing. The bytes themselves are kept in `bytes`
// (zero bytes included, unlike CBufferString's text).
class RecordingBuffer : public CBufferString {
 public:
  bool refuseOpen = false;
  int opens = 0;
  int closes = 0;
  std::vector<int32_t> writes;
  std::string bytes;

  Handle OpenWrite() override {
    ++opens;
    if (refuseOpen) return nullptr;
    bytes.clear();
    return CBufferString::OpenWrite();
  }
  void Close(Handle handle) override {
    ++closes;
    CBufferString::Close(handle);
  }
  bool Write(Handle handle, const char* data, int32_t length) override {
    writes.push_back(length);
    if (length > 0) bytes.append(data, static_cast<size_t>(length));
    return CBufferString::Write(handle, data, length);
  }
};

#endif  // TICKORA_TESTS_WEB_RECORDING_BUFFER_H_
