// Feeds arbitrary bytes to ReadQuickPriceFile as a quick price file. Besides
// the sanitizers' checks it stops on any broken promise of the reader (see
// quick_file_check.h); a bar read back holds the file's five values and no
// raw close.
#include <cstdint>
#include <string>

#include "fuzz/quick_file_check.h"
#include "series/quick_price_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = fuzz::TempPath("quick2.dat");
  // A small input is checked cut after every byte as well.
  for (size_t cut = size <= 300 ? 0 : size; cut <= size; ++cut) {
    if (!fuzz::WriteBytes(input, data, cut)) return 0;
    fuzz::CheckQuickFile<CChartTable>(
        data, cut, input, kQuickPriceMagic, kQuickPriceRecordBytes, ReadQuickPriceFile,
        [](const CDayRecord& bar, const unsigned char* at) {
          using fuzz::SameValue;
          return bar.DateNumber() == GetLittleU32(at + 8) &&
                 SameValue(bar.open, GetLittleF32(at + 12)) &&
                 SameValue(bar.high, GetLittleF32(at + 16)) &&
                 SameValue(bar.low, GetLittleF32(at + 20)) &&
                 SameValue(bar.close, GetLittleF32(at + 24)) &&
                 SameValue(bar.volume, GetLittleF32(at + 28)) && bar.rawClose == 0;
        });
  }
  // The writer gives no file in a folder that does not exist.
  const std::string missing = input + ".none/q";
  fuzz::Check(WriteQuickPriceFile(missing.c_str(), {}, 10, 0, nullptr) == kQuickFileCannotCreate);
  return 0;
}
