// Feeds arbitrary bytes to ReadArchiveMarginFile as an archive margin file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader (see archive_file_check.h). The balances are stored at full
// precision, so an entry read again is the same bit for bit.
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/archive_file_check.h"
#include "series/archive_margin_file.h"
#include "series/margin.h"
#include "series/margin_file.h"
#include "series/record_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto same = [](const CMarginRecord& a, const CMarginRecord& b) {
    return a.date.ToNumber() == b.date.ToNumber() &&
           std::memcmp(&a.buy, &b.buy, sizeof(double)) == 0 &&
           std::memcmp(&a.sell, &b.sell, sizeof(double)) == 0;
  };
  // A small input is checked cut after every byte as well.
  for (size_t cut = size <= 300 ? 0 : size; cut <= size; ++cut) {
    fuzz::CheckArchiveFile<CMarginTable>(
        data, cut, kArchiveMarginValueBytes, ReadArchiveMarginFile, WriteArchiveMarginFile,
        [](const CMarginRecord& entry) { return entry.date.ToNumber(); }, same,
        [](const CMarginRecord& entry, const unsigned char* at) {
          const uint64_t buy = GetLittleU64(at + 4), sell = GetLittleU64(at + 12);
          return entry.date.ToNumber() == GetLittleU32(at) &&
                 std::memcmp(&entry.buy, &buy, 8) == 0 && std::memcmp(&entry.sell, &sell, 8) == 0;
        });
  }

  static const std::string input = fuzz::TempPath("kept.bin");
  static const std::string folder = fuzz::TempPath("kept");
  mkdir(folder.c_str(), 0700);
  CMarginTable table;
  if (!fuzz::WriteBytes(input, data, size) || !ReadArchiveMarginFile(input.c_str(), table)) return 0;
  fuzz::CheckArchiveIndex(data, size, kArchiveMarginValueBytes, table, ReadIndexedMargins, same);
  fuzz::CheckKeptRecords(
      table,
      [](const CMarginRecord& entry, const CMargin& kept) {
        return IsStorableEntry(entry) && (kept.empty() || kept.back().date < entry.date);
      },
      [](CMargin& kept) {
        return kept.Save(std::make_unique<CMarginSaverFile>(folder.c_str(), "K"));
      },
      [](CMargin& again) {
        return again.Load(std::make_unique<CMarginLoaderFile>(folder.c_str(), "K", 0));
      },
      [](const CMarginRecord& a, const CMarginRecord& b) { return a == b; });
  return 0;
}
