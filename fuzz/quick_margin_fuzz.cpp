// Feeds arbitrary bytes to ReadQuickMarginFile as a quick margin file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader: an answer that disagrees with the header's presence, magic and
// version; a header other than the file's first 20 bytes; a directory code
// that is not a series of the table or holds a zero byte or more than 8
// bytes; a record lost, added, put in another issue's series, moved out of
// file order or read with other values; more room reserved than the
// records justify.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "fuzz/fuzz_files.h"
#include "series/quick_margin_file.h"
#include "series/record_file.h"

using fuzz::Check;
using fuzz::TempPath;
using fuzz::WriteBytes;

namespace {

bool SameValue(double a, float b) {
  return (a != a && b != b) || static_cast<float>(a) == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("quickmg2.dat");
  if (!WriteBytes(input, data, size)) return 0;

  CMarginTable table;
  table["stale"];
  CQuickFileHeader header;
  const bool valid = size >= kQuickHeaderBytes &&
                     std::memcmp(data, kQuickMarginMagic, 4) == 0 &&
                     GetLittleU32(data + 4) == kQuickFileVersion;
  Check(ReadQuickMarginFile(input.c_str(), table, &header) == valid);
  if (!valid) {
    Check(table.empty());
    return 0;
  }
  Check(std::memcmp(header.magic, data, 4) == 0 &&
        header.beginDate == GetLittleU32(data + 8) &&
        header.endDate == GetLittleU32(data + 12) &&
        header.count == GetLittleU32(data + 16));

  const size_t entries =
      std::min<size_t>(header.count, (size - kQuickHeaderBytes) / kQuickCodeBytes);
  const unsigned char* directory = data + kQuickHeaderBytes;
  for (size_t i = 0; i < entries; ++i) {
    Check(table.count(GetQuickCode(directory + i * kQuickCodeBytes)) == 1);
  }
  for (const auto& [code, margin] : table) {
    Check(code.size() <= kQuickCodeBytes &&
          code.find('\0') == std::string::npos);
  }

  // Every record in its issue's series, in file order, with its values.
  const unsigned char* records = directory + entries * kQuickCodeBytes;
  const size_t count = (data + size - records) / kQuickMarginRecordBytes;
  std::map<std::string, size_t> next;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* at = records + i * kQuickMarginRecordBytes;
    const std::string code = GetQuickCode(at);
    auto found = table.find(code);
    Check(found != table.end());
    const size_t index = next[code]++;
    Check(index < found->second.size());
    const CMarginRecord& entry = found->second[index];
    Check(entry.date.ToNumber() == GetLittleU32(at + 8) &&
          SameValue(entry.buy, GetLittleF32(at + 12)) &&
          SameValue(entry.sell, GetLittleF32(at + 16)));
  }
  size_t room = 0;
  for (const auto& [code, margin] : table) {
    Check(margin.size() == (next.count(code) ? next[code] : 0));
    room += margin.capacity();
  }
  // Reservations together stay within the records the file holds (and the
  // one at hand); a series beyond its reservation grows to at most twice
  // its records. The header's count plays no part.
  Check(room <= count + 1 + 2 * count);
  return 0;
}
