#include "db/divide_map.h"

#include <cstdint>
#include <cstring>

#include "support/cp932.h"
#include "support/text.h"

namespace {

constexpr float kFileVersion = 2.0f;

// Reads the little-endian fields of the split list file from a buffered
// file. Each read says whether its field came whole; nothing is read past
// the end of the file and a code grows only while its bytes keep coming,
// up to kMaxCodeBytes.
class CSplitReader {
 public:
  explicit CSplitReader(std::FILE* file) : file_(file) {}
  CSplitReader(const CSplitReader&) = delete;
  CSplitReader& operator=(const CSplitReader&) = delete;

  bool ReadU32(std::uint32_t& value) {
    unsigned char b[4];
    if (std::fread(b, 1, sizeof(b), file_) != sizeof(b)) return false;
    value = static_cast<std::uint32_t>(b[0]) |
            static_cast<std::uint32_t>(b[1]) << 8 |
            static_cast<std::uint32_t>(b[2]) << 16 |
            static_cast<std::uint32_t>(b[3]) << 24;
    return true;
  }

  bool ReadF32(float& value) {
    std::uint32_t bits;
    if (!ReadU32(bits)) return false;
    std::memcpy(&value, &bits, sizeof(value));
    return true;
  }

  bool ReadI16(std::int16_t& value) {
    unsigned char b[2];
    if (std::fread(b, 1, sizeof(b), file_) != sizeof(b)) return false;
    value = static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | b[1] << 8));
    return true;
  }

  // Bytes up to and without their NUL; false when the file ends first or
  // more than kMaxCodeBytes bytes come before the NUL.
  bool ReadCode(std::string& code) {
    code.clear();
    for (;;) {
      const int c = std::getc(file_);
      if (c == EOF) return false;
      if (c == 0) return true;
      if (code.size() == kMaxCodeBytes) return false;
      code.push_back(static_cast<char>(c));
    }
  }

 private:
  std::FILE* file_;
};

bool ReadRecord(CSplitReader& reader, bool version1, std::string& code,
                CDivideRecord& split) {
  if (version1) {
    std::int16_t number;
    if (!reader.ReadI16(number)) return false;
    code = std::to_string(number);
  } else if (!reader.ReadCode(code)) {
    return false;
  }
  std::uint32_t date;
  float ratio;
  if (!reader.ReadU32(date) || !reader.ReadF32(ratio)) return false;
  // Split into fields without validation so that any stored number, real
  // date or not, comes back as the same date number.
  split.date = CDate(date / 10000u, date / 100u % 100u, date % 100u);
  split.ratio = ratio;
  return true;
}

class CSplitWriter {
 public:
  explicit CSplitWriter(std::FILE* file) : file_(file) {}
  CSplitWriter(const CSplitWriter&) = delete;
  CSplitWriter& operator=(const CSplitWriter&) = delete;

  bool WriteBytes(const void* data, std::size_t count) {
    return std::fwrite(data, 1, count, file_) == count;
  }

  bool WriteU32(std::uint32_t value) {
    const unsigned char b[4] = {static_cast<unsigned char>(value),
                                static_cast<unsigned char>(value >> 8),
                                static_cast<unsigned char>(value >> 16),
                                static_cast<unsigned char>(value >> 24)};
    return WriteBytes(b, sizeof(b));
  }

  bool WriteF32(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return WriteU32(bits);
  }

  bool WriteRecord(const std::string& code, const CDivideRecord& split) {
    return WriteBytes(code.c_str(), code.size() + 1) &&
           WriteU32(split.date.ToNumber()) &&
           WriteF32(static_cast<float>(split.ratio));
  }

 private:
  std::FILE* file_;
};

}  // namespace

bool CDivideMap::Load(const std::string& path) {
  lists_.clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;

  CSplitReader reader(file);
  float version;
  std::uint32_t written;
  if (!reader.ReadF32(version) || !reader.ReadU32(written)) {
    std::fclose(file);
    return false;
  }
  const bool version1 = version < kFileVersion;

  std::string code;
  CDivideRecord split;
  while (ReadRecord(reader, version1, code, split)) {
    lists_[code].push_back(split);
  }
  std::fclose(file);
  for (auto& [key, list] : lists_) list.Sort();
  return true;
}

bool CDivideMap::Save(const std::string& path) const {
  return Save(path, CDate::Today());
}

bool CDivideMap::Save(const std::string& path, const CDate& written) const {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;

  CSplitWriter writer(file);
  bool ok = writer.WriteF32(kFileVersion) && writer.WriteU32(written.ToNumber());
  for (auto it = lists_.begin(); ok && it != lists_.end(); ++it) {
    for (const CDivideRecord& split : it->second) {
      if (!(ok = writer.WriteRecord(it->first, split))) break;
    }
  }
  // A buffered write can fail only when the buffer is flushed.
  if (std::fclose(file) != 0) ok = false;
  return ok;
}

void CDivideMap::Dump(std::FILE* out) const {
  for (const auto& [code, list] : lists_) {
    std::string text = StringFormat("[%s] Num=%zu\n", code.c_str(), list.size());
    for (const CDivideRecord& split : list) {
      text += StringFormat(" [%u]%f\n", split.date.ToNumber(), split.ratio);
    }
    PrintCp932(out, text);
  }
  PrintCp932(out, StringFormat("銘柄数=%zu\n", lists_.size()));
}

bool CDivideMap::Add(const std::string& code, const CDivideRecord& split) {
  if (code.size() > kMaxCodeBytes || code.find('\0') != std::string::npos) {
    return false;
  }
  lists_[code].push_back(split);
  return true;
}

const CDivide* CDivideMap::Find(const std::string& code) const {
  auto it = lists_.find(code);
  return it == lists_.end() ? nullptr : &it->second;
}
