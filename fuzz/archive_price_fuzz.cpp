// Feeds arbitrary bytes to ReadArchivePriceFile as an archive price file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader (see archive_file_check.h). Written once, the values are float32
// again (a signalling NaN comes back quiet), so a bar read again is checked
// by its date.
#include <cstdint>

#include "fuzz/archive_file_check.h"
#include "series/archive_price_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::CheckArchiveFile<CChartTable>(
      data, size, kArchivePriceValueBytes, ReadArchivePriceFile, WriteArchivePriceFile,
      [](const CDayRecord& bar) { return bar.DateNumber(); },
      [](const CDayRecord& a, const CDayRecord& b) { return a.DateNumber() == b.DateNumber(); });
  return 0;
}
