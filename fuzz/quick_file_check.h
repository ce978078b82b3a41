#ifndef TICKORA_FUZZ_QUICK_FILE_CHECK_H_
#define TICKORA_FUZZ_QUICK_FILE_CHECK_H_

// The promises the quick price and quick margin file readers share, checked
// on the bytes of one input: the answer agrees with the header's presence,
// magic and version; the header is the file's first 20 bytes; every
// directory code is a series of the table, without a zero byte and within
// 8 bytes; a series without records comes from a whole directory entry; every record is read into its issue's series, in file order,
// with its values (checked by `same`), none lost or added; and the room
// reserved stays within what the records justify.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "fuzz/fuzz_files.h"
#include "series/quick_file.h"
#include "series/record_file.h"

namespace fuzz {

// True when a value read back as float64 is the float32 of the file.
inline bool SameValue(double a, float b) { return (a != a && b != b) || static_cast<float>(a) == b; }

// `read(path, table, header)` is the reader; `same(record, bytes)` tells
// whether a record holds the values of the file record at `bytes`.
template <typename Table, typename Read, typename Same>
void CheckQuickFile(const uint8_t* data, size_t size, const std::string& input, const char* magic,
                    size_t recordBytes, Read read, Same same) {
  // No file, or a folder, is refused.
  Table table;
  Check(!read((input + ".none").c_str(), table, nullptr) && !read("/", table, nullptr));
  table["stale"];
  CQuickFileHeader header;
  const bool valid = size >= kQuickHeaderBytes && std::memcmp(data, magic, 4) == 0 &&
                     GetLittleU32(data + 4) == kQuickFileVersion;
  Check(read(input.c_str(), table, &header) == valid);
  if (!valid) {
    Check(table.empty());
    return;
  }
  Check(std::memcmp(header.magic, data, 4) == 0 && header.beginDate == GetLittleU32(data + 8) &&
        header.endDate == GetLittleU32(data + 12) && header.count == GetLittleU32(data + 16));

  const size_t entries =
      std::min<size_t>(header.count, (size - kQuickHeaderBytes) / kQuickCodeBytes);
  const unsigned char* directory = data + kQuickHeaderBytes;
  std::set<std::string> listed;
  for (size_t i = 0; i < entries; ++i) {
    listed.insert(GetQuickCode(directory + i * kQuickCodeBytes));
    Check(table.count(GetQuickCode(directory + i * kQuickCodeBytes)) == 1);
  }
  for (const auto& [code, series] : table) {
    Check(code.size() <= kQuickCodeBytes && code.find('\0') == std::string::npos);
  }

  const unsigned char* records = directory + entries * kQuickCodeBytes;
  const size_t count = (data + size - records) / recordBytes;
  std::map<std::string, size_t> next;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* at = records + i * recordBytes;
    const std::string code = GetQuickCode(at);
    auto found = table.find(code);
    Check(found != table.end());
    const size_t index = next[code]++;
    Check(index < found->second.size());
    Check(same(found->second[index], at));
  }
  size_t room = 0;
  for (const auto& [code, series] : table) {
    Check(series.size() == (next.count(code) ? next[code] : 0));
    Check(!series.empty() || listed.count(code) == 1);  // from a whole directory entry
    room += series.capacity();
  }
  // Reservations together stay within the records the file holds (and the
  // one at hand); a series beyond its reservation grows to at most twice
  // its records. The header's count plays no part.
  Check(room <= count + 1 + 2 * count);
}

}  // namespace fuzz

#endif  // TICKORA_FUZZ_QUICK_FILE_CHECK_H_
