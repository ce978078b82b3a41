// Feeds arbitrary bytes to ReadArchivePriceFile as an archive price file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader (see archive_file_check.h). Written once, the values are float32
// again (a signalling NaN comes back quiet), so a bar read again is checked
// by its date.
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/archive_file_check.h"
#include "series/archive_price_file.h"
#include "series/chart.h"
#include "series/chart_file.h"
#include "series/record_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A small input is checked cut after every byte as well.
  for (size_t cut = size <= 300 ? 0 : size; cut <= size; ++cut) {
    fuzz::CheckArchiveFile<CChartTable>(
        data, cut, kArchivePriceValueBytes, ReadArchivePriceFile, WriteArchivePriceFile,
        [](const CDayRecord& bar) { return bar.DateNumber(); },
        [](const CDayRecord& a, const CDayRecord& b) { return a.DateNumber() == b.DateNumber(); },
        [](const CDayRecord& bar, const unsigned char* at) {
          const double read[] = {bar.open, bar.high, bar.low, bar.close, bar.volume};
          for (int i = 0; i < 5; ++i) {
            const float file = GetLittleF32(at + 4 + 4 * i);
            if (!(read[i] != read[i] && file != file) && static_cast<float>(read[i]) != file) {
              return false;
            }
          }
          return bar.DateNumber() == GetLittleU32(at);
        });
  }

  static const std::string input = fuzz::TempPath("kept.bin");
  static const std::string folder = fuzz::TempPath("kept");
  mkdir(folder.c_str(), 0700);
  CChartTable table;
  if (!fuzz::WriteBytes(input, data, size) || !ReadArchivePriceFile(input.c_str(), table)) return 0;
  fuzz::CheckArchiveIndex(data, size, kArchivePriceValueBytes, table, ReadIndexedBars,
                          [](const CDayRecord& a, const CDayRecord& b) {
                            const double x[] = {a.open, a.high, a.low, a.close, a.volume};
                            const double y[] = {b.open, b.high, b.low, b.close, b.volume};
                            return a.DateNumber() == b.DateNumber() &&
                                   std::memcmp(x, y, sizeof(x)) == 0;
                          });
  fuzz::CheckKeptRecords(
      table,
      [](const CDayRecord& bar, const CChart& kept) {
        // A chart file drops leading bars with a zero price: none is kept.
        return IsStorableBar(bar) && bar.open > 0 && bar.high > 0 && bar.low > 0 &&
               bar.close > 0 &&
               (kept.empty() || bar.DateNumber() > kept.back().DateNumber());
      },
      [](CChart& kept) {
        return kept.Save(std::make_unique<CChartSaverFile>(folder.c_str(), "K", false));
      },
      [](CChart& again) {
        return again.Load(std::make_unique<CChartLoaderFile>(folder.c_str(), "K", 0));
      },
      // The raw close is not a field of the file.
      [](const CDayRecord& a, const CDayRecord& b) {
        return a.DateNumber() == b.DateNumber() && a.open == b.open && a.high == b.high &&
               a.low == b.low && a.close == b.close && a.volume == b.volume;
      });
  return 0;
}
