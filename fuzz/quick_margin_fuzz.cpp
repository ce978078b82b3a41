// Feeds arbitrary bytes to ReadQuickMarginFile as a quick margin file.
// Besides the sanitizers' checks it stops on any broken promise of the
// reader (see quick_file_check.h); an entry read back holds the file's
// date and two balances.
#include <cstdint>
#include <string>

#include "fuzz/quick_file_check.h"
#include "series/quick_margin_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = fuzz::TempPath("quickmg2.dat");
  // A small input is checked cut after every byte as well.
  for (size_t cut = size <= 300 ? 0 : size; cut <= size; ++cut) {
    if (!fuzz::WriteBytes(input, data, cut)) return 0;
    fuzz::CheckQuickFile<CMarginTable>(
        data, cut, input, kQuickMarginMagic, kQuickMarginRecordBytes, ReadQuickMarginFile,
        [](const CMarginRecord& entry, const unsigned char* at) {
          return entry.date.ToNumber() == GetLittleU32(at + 8) &&
                 fuzz::SameValue(entry.buy, GetLittleF32(at + 12)) &&
                 fuzz::SameValue(entry.sell, GetLittleF32(at + 16));
        });
  }
  // The writer gives no file in a folder that does not exist.
  const std::string missing = input + ".none/q";
  fuzz::Check(WriteQuickMarginFile(missing.c_str(), {}, 10, nullptr) == kQuickFileCannotCreate);
  return 0;
}
