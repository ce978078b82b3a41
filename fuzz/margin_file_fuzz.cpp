// Feeds arbitrary bytes to CMarginLoaderFile as a margin file. Besides the
// sanitizers' checks it stops on any broken promise of the reader: a status
// other than "read to the end" for a file of whole records (a left-over of
// under 4 bytes included) or other than "cut" for one with a left-over date;
// an entry count other than the file's whole records; a read of the last N
// records that is not the tail of the whole; entries that, written back,
// are not the file's whole records byte for byte when saved over the input
// itself (the balances are kept at full precision and the date as stored);
// a load through the series that keeps what the series held before, or a
// missing file taken as read.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_files.h"
#include "series/margin.h"
#include "series/margin_file.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

namespace {

constexpr size_t kRecord = 20;

int32_t Load(const std::string& path, int32_t last, CMargin& margin) {
  margin.clear();
  return CMarginLoaderFile(path.c_str(), "", last).Load(margin);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("mg.dat");
  static const std::string output = TempPath("mg-a.dat");
  static const std::string missing = TempPath("mg-none.dat");
  if (!WriteBytes(input, data, size)) return 0;

  const size_t whole = size / kRecord;
  const bool cut = size % kRecord >= 4;
  CMargin margin;
  Check(Load(input, 0, margin) ==
        (cut ? CMarginLoaderFile::kCut : CMarginLoaderFile::kOk));
  Check(margin.size() == whole);

  // Written back over the input's own bytes: exactly the whole records of
  // the input, so the old file is replaced, never extended or kept.
  if (!WriteBytes(output, data, size)) return 0;
  Check(CMarginSaverFile(output.c_str(), "").Save(margin) ==
        CMarginSaverFile::kOk);
  const std::string records(reinterpret_cast<const char*>(data),
                            whole * kRecord);
  Check(ReadBytes(output) == records);
  // A folder in the file's place cannot be opened; a device that takes no
  // byte fails the write of any entry.
  Check(CMarginSaverFile("/", "").Save(margin) == CMarginSaverFile::kCannotOpen);
  Check(margin.empty() || access("/dev/full", W_OK) != 0 ||
        CMarginSaverFile("/dev/full", "").Save(margin) == CMarginSaverFile::kCannotWrite);
  if (cut) return 0;

  // N from the first byte: -4 to 7 (none or negative: every record), or
  // the largest count for 0x7F.
  const int32_t last = size == 0 ? 0
                       : data[0] == 0x7F ? INT32_MAX
                                         : static_cast<int8_t>(data[0]) % 8;
  // Loaded through the series, which must empty itself first.
  CMargin tail = margin;
  Check(tail.Load(std::make_unique<CMarginLoaderFile>(input.c_str(), "", last)));
  const size_t expected =
      last > 0 && static_cast<size_t>(last) < whole ? last : whole;
  Check(tail.size() == expected);
  for (size_t i = 0; i < tail.size(); ++i) {
    Check(tail[i].date == margin[whole - expected + i].date &&
          std::memcmp(&tail[i].buy, &margin[whole - expected + i].buy, 16) == 0);
  }
  // A file that is not there, or a folder, cannot be opened, whatever the
  // count; through the series the load fails and leaves it empty.
  Check(Load(missing, last, tail) == CMarginLoaderFile::kCannotOpen &&
        Load("/", last, tail) == CMarginLoaderFile::kCannotOpen);
  tail = margin;
  Check(!tail.Load(std::make_unique<CMarginLoaderFile>(missing.c_str(), "", 0)) &&
        tail.empty());
  return 0;
}
