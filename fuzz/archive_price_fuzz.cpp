// Feeds arbitrary bytes to ReadArchivePriceFile as an archive price file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader: a result that disagrees with the header's presence, a header
// other than the file's first 8 bytes, an empty series, more records than
// the bytes can hold, a code with a zero byte or one the old layout cannot
// carry, or a table that does not survive being written and read again
// (its bars in date order) with the same series, dates and file bytes.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "series/archive_price_file.h"
#include "series/record_file.h"

namespace {

std::string TempPath(const char* name) {
  return "/tmp/tickora-fuzz-" + std::to_string(getpid()) + "-" + name;
}

bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  for (int c; (c = std::getc(file)) != EOF;) bytes.push_back(static_cast<char>(c));
  std::fclose(file);
  return bytes;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameDates(const CChartTable& a, const CChartTable& b) {
  if (a.size() != b.size()) return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
    if (i->first != j->first || i->second.size() != j->second.size()) {
      return false;
    }
    for (size_t k = 0; k < i->second.size(); ++k) {
      if (i->second[k].DateNumber() != j->second[k].DateNumber()) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("in.bin");
  static const std::string first = TempPath("a.bin");
  static const std::string second = TempPath("b.bin");
  if (!WriteBytes(input, data, size)) return 0;

  CChartTable table;
  CArchiveFileHeader header;
  Check(ReadArchivePriceFile(input.c_str(), table, &header) ==
        (size >= kArchiveHeaderBytes));
  if (size < kArchiveHeaderBytes) {
    Check(table.empty());
    return 0;
  }
  Check(std::bit_cast<uint32_t>(header.version) == GetLittleU32(data) &&
        header.madeDate == GetLittleU32(data + 4));
  const bool old = header.IsOldLayout();
  // The shortest record: an empty code and its zero, or an issue number.
  const size_t shortest = kArchivePriceValueBytes + (old ? 2 : 1);
  size_t records = 0;
  for (auto& [code, series] : table) {
    Check(!series.empty());
    Check(CArchiveFileWriter::CanHold(code, old));
    records += series.size();
    // The writer takes each series in ascending date order.
    std::stable_sort(series.begin(), series.end(),
                     [](const CDayRecord& a, const CDayRecord& b) {
                       return a.DateNumber() < b.DateNumber();
                     });
  }
  Check(records * shortest <= size - kArchiveHeaderBytes);

  // Written once, the values are float32 again (a signalling NaN comes
  // back quiet); from then on reading and writing changes nothing.
  Check(WriteArchivePriceFile(first.c_str(), table, 0, UINT32_MAX, header));
  CChartTable again;
  CArchiveFileHeader againHeader;
  Check(ReadArchivePriceFile(first.c_str(), again, &againHeader));
  Check(std::memcmp(&againHeader, &header, sizeof(header)) == 0);
  Check(SameDates(table, again));
  Check(WriteArchivePriceFile(second.c_str(), again, 0, UINT32_MAX,
                              againHeader));
  Check(ReadBytes(first) == ReadBytes(second));
  return 0;
}
