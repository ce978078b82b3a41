#ifndef TICKORA_TESTS_COMMON_FILE_BYTES_H_
#define TICKORA_TESTS_COMMON_FILE_BYTES_H_

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

// Bytes of the binary files, put together field by field from the layout
// tables: little-endian integers and IEEE floats.
inline std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 8 ? value >> (8 * i) : 0);
  return out;
}
inline std::string LeF32(float v) { uint32_t b; std::memcpy(&b, &v, 4); return Le(b, 4); }
inline std::string LeF64(double v) { uint64_t b; std::memcpy(&b, &v, 8); return Le(b, 8); }
// A text field: the bytes and their NUL.
inline std::string Text0(const std::string& text) { return text + std::string(1, '\0'); }

// Writes `bytes` to `path` and answers the path.
inline std::string WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

#endif  // TICKORA_TESTS_COMMON_FILE_BYTES_H_
