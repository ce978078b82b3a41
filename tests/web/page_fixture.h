#ifndef TICKORA_TESTS_WEB_PAGE_FIXTURE_H_
#define TICKORA_TESTS_WEB_PAGE_FIXTURE_H_

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "series/buffer_string.h"

// The bytes of a page fixture of tests/data/pages; a missing or empty one
// fails the test.
inline std::string PageFixture(const std::string& name) {
  std::ifstream in(std::string(TICKORA_TEST_DATA_DIR) + "/pages/" + name, std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

// Makes `buffer` hold `bytes`, as a download would leave it.
inline void FillBuffer(CBuffer& buffer, const std::string& bytes) {
  CBuffer::Handle handle = buffer.OpenWrite();
  buffer.Write(handle, bytes.data(), static_cast<int32_t>(bytes.size()));
  buffer.Close(handle);
}

// Everything a buffer holds, read back byte by byte.
inline std::string Contents(CBuffer& buffer) {
  std::string bytes;
  CBuffer::Handle h = buffer.OpenRead();
  for (int32_t c = buffer.GetChar(h); c != -1; c = buffer.GetChar(h)) bytes.push_back(static_cast<char>(c));
  buffer.Close(h);
  return bytes;
}

#endif  // TICKORA_TESTS_WEB_PAGE_FIXTURE_H_
