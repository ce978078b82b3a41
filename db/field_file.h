#ifndef TICKORA_DB_FIELD_FILE_H_
#define TICKORA_DB_FIELD_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "series/record_file.h"

// CFieldReader and CFieldWriter read and write the little-endian fields of
// the issue list and split list files on a buffered stdio stream that the
// caller opened and still closes. Every operation says whether its field
// went through whole; nothing is ever read past the end of the file, and a
// text grows only as long as its bytes keep coming. Not copyable.
class CFieldReader {
 public:
  explicit CFieldReader(std::FILE* file) : file_(file) {}
  CFieldReader(const CFieldReader&) = delete;
  CFieldReader& operator=(const CFieldReader&) = delete;

  [[nodiscard]] bool ReadBytes(unsigned char* out, std::size_t count) {
    return std::fread(out, 1, count, file_) == count;
  }
  [[nodiscard]] bool ReadI16(std::int16_t& value) {
    unsigned char b[2];
    if (!ReadBytes(b, sizeof(b))) return false;
    value = static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | b[1] << 8));
    return true;
  }
  [[nodiscard]] bool ReadU32(std::uint32_t& value) {
    unsigned char b[4];
    if (!ReadBytes(b, sizeof(b))) return false;
    value = GetLittleU32(b);
    return true;
  }
  [[nodiscard]] bool ReadI32(std::int32_t& value) {
    std::uint32_t bits;
    if (!ReadU32(bits)) return false;
    value = static_cast<std::int32_t>(bits);
    return true;
  }
  [[nodiscard]] bool ReadF32(float& value) {
    unsigned char b[4];
    if (!ReadBytes(b, sizeof(b))) return false;
    value = GetLittleF32(b);
    return true;
  }
  [[nodiscard]] bool ReadF64(double& value) {
    unsigned char b[8];
    if (!ReadBytes(b, sizeof(b))) return false;
    value = GetLittleF64(b);
    return true;
  }

  // Reads bytes up to and without their NUL, however many. False when the
  // file ends first. The text never grows longer than the file.
  [[nodiscard]] bool ReadText(std::string& text) {
    text.clear();
    for (;;) {
      const int c = std::getc(file_);
      if (c == EOF) return false;
      if (c == 0) return true;
      text.push_back(static_cast<char>(c));
    }
  }

 private:
  std::FILE* file_;
};

class CFieldWriter {
 public:
  explicit CFieldWriter(std::FILE* file) : file_(file) {}
  CFieldWriter(const CFieldWriter&) = delete;
  CFieldWriter& operator=(const CFieldWriter&) = delete;

  [[nodiscard]] bool WriteBytes(const void* data, std::size_t count) {
    return std::fwrite(data, 1, count, file_) == count;
  }
  [[nodiscard]] bool WriteU32(std::uint32_t value) {
    unsigned char b[4];
    PutLittleU32(b, value);
    return WriteBytes(b, sizeof(b));
  }
  [[nodiscard]] bool WriteI32(std::int32_t value) {
    return WriteU32(static_cast<std::uint32_t>(value));
  }
  [[nodiscard]] bool WriteF32(float value) {
    unsigned char b[4];
    PutLittleF32(b, value);
    return WriteBytes(b, sizeof(b));
  }
  [[nodiscard]] bool WriteF64(double value) {
    unsigned char b[8];
    PutLittleF64(b, value);
    return WriteBytes(b, sizeof(b));
  }
  // The text's bytes and one NUL.
  [[nodiscard]] bool WriteText(const std::string& text) {
    return WriteBytes(text.data(), text.size()) && WriteBytes("", 1);
  }

 private:
  std::FILE* file_;
};

#endif  // TICKORA_DB_FIELD_FILE_H_
