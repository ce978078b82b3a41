// Feeds arbitrary bytes to ReadArchivePriceFile as an archive price file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader: a result that disagrees with the header's presence, a header
// other than the file's first 8 bytes, an empty series, more records than
// the bytes can hold, more room reserved than the file's records justify, a
// code with a zero byte or one the old layout cannot carry, or a table that
// does not survive being written and read again (its bars in date order)
// with the same series, dates and file bytes.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_files.h"
#include "series/archive_price_file.h"
#include "series/record_file.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

namespace {

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
  size_t room = 0;
  for (auto& [code, series] : table) {
    Check(!series.empty());
    Check(CArchiveFileWriter::CanHold(code, old));
    records += series.size();
    room += series.capacity();
    // The writer takes each series in ascending date order.
    std::stable_sort(series.begin(), series.end(),
                     [](const CDayRecord& a, const CDayRecord& b) {
                       return a.DateNumber() < b.DateNumber();
                     });
  }
  Check(records * shortest <= size - kArchiveHeaderBytes);
  // Reservations together stay within the records the file can hold; a
  // series beyond its reservation grows to at most twice its records.
  Check(room <= (size - kArchiveHeaderBytes) / shortest + 1 + 2 * records);

  // Written once, the values are float32 again (a signalling NaN comes
  // back quiet); from then on reading and writing changes nothing.
  fuzz::Fresh(first);
  Check(WriteArchivePriceFile(first.c_str(), table, 0, UINT32_MAX, header));
  CChartTable again;
  CArchiveFileHeader againHeader;
  Check(ReadArchivePriceFile(first.c_str(), again, &againHeader));
  Check(std::memcmp(&againHeader, &header, sizeof(header)) == 0);
  Check(SameDates(table, again));
  fuzz::Fresh(second);
  Check(WriteArchivePriceFile(second.c_str(), again, 0, UINT32_MAX,
                              againHeader));
  Check(ReadBytes(first) == ReadBytes(second));
  return 0;
}
