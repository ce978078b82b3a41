#include "db/divide_map.h"

#include <cstdint>

#include "db/field_file.h"
#include "support/cp932.h"
#include "support/text.h"

namespace {

constexpr float kFileVersion = 2.0f;

// Reads one record; false when it cannot be read whole. A code grows only
// while its bytes keep coming, and is kept whole however long.
bool ReadRecord(CFieldReader& reader, bool version1, std::string& code,
                CDivideRecord& split) {
  if (version1) {
    std::int16_t number;
    if (!reader.ReadI16(number)) return false;
    code = std::to_string(number);
  } else if (!reader.ReadText(code)) {
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

bool WriteRecord(CFieldWriter& writer, const std::string& code,
                 const CDivideRecord& split) {
  return writer.WriteText(code) && writer.WriteU32(split.date.ToNumber()) &&
         writer.WriteF32(static_cast<float>(split.ratio));
}

}  // namespace

bool CDivideMap::Load(const std::string& path) {
  lists_.clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;

  CFieldReader reader(file);
  float version;
  std::uint32_t written;
  if (!reader.ReadF32(version) || !reader.ReadU32(written)) {
    std::fclose(file);
    return false;
  }
  const bool version1 = IsOldFormatVersion(version);

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

  CFieldWriter writer(file);
  bool ok = writer.WriteF32(kFileVersion) && writer.WriteU32(written.ToNumber());
  for (auto it = lists_.begin(); ok && it != lists_.end(); ++it) {
    for (const CDivideRecord& split : it->second) {
      if (!(ok = WriteRecord(writer, it->first, split))) break;
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
