// Feeds arbitrary bytes to ReadArchiveMarginFile as an archive margin file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader (see archive_file_check.h). The balances are stored at full
// precision, so an entry read again is the same bit for bit.
#include <cstdint>
#include <cstring>

#include "fuzz/archive_file_check.h"
#include "series/archive_margin_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::CheckArchiveFile<CMarginTable>(
      data, size, kArchiveMarginValueBytes, ReadArchiveMarginFile, WriteArchiveMarginFile,
      [](const CMarginRecord& entry) { return entry.date.ToNumber(); },
      [](const CMarginRecord& a, const CMarginRecord& b) {
        return a.date.ToNumber() == b.date.ToNumber() &&
               std::memcmp(&a.buy, &b.buy, sizeof(double)) == 0 &&
               std::memcmp(&a.sell, &b.sell, sizeof(double)) == 0;
      });
  return 0;
}
