#ifndef TICKORA_TESTS_WEB_PAGE_FIXTURE_H_
#define TICKORA_TESTS_WEB_PAGE_FIXTURE_H_

#include <fstream>
#include <sstream>
#include <string>

#include "series/buffer_string.h"

// The bytes of a page fixture of tests/data/pages; empty when missing.
inline std::string PageFixture(const std::string& name) {
  std::ifstream in(std::string(TICKORA_TEST_DATA_DIR) + "/pages/" + name, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A memory buffer holding `bytes`, as a download would leave it.
inline void FillBuffer(CBufferString& buffer, const std::string& bytes) {
  CBuffer::Handle handle = buffer.OpenWrite();
  buffer.Write(handle, bytes.data(), static_cast<int32_t>(bytes.size()));
  buffer.Close(handle);
}

#endif  // TICKORA_TESTS_WEB_PAGE_FIXTURE_H_
