// Feeds arbitrary bytes to CDivideMap::Load as a split list file. Besides
// the sanitizers' checks it stops on any broken promise of the reader: a
// result that disagrees with the header's presence, more splits than the
// bytes can hold, a code longer than the file, an unsorted list, or a
// file that does not read back the same after Save, as splits (ratios bit
// for bit) and as bytes, or a saved file that, cut after any byte, loads
// other than the whole splits before the cut, or a save without a date
// whose header does not carry today's, or a load of a missing file that
// fails to fail or keeps the old splits.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <utility>

#include "db/divide_map.h"
#include "fuzz/fuzz_files.h"
#include "support/date.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

namespace {

// Every split of a map as (code, date and ratio bits), in map order.
using Flat = std::pair<std::string, std::pair<uint32_t, uint64_t>>;
std::vector<Flat> Splits(const CDivideMap& map) {
  std::vector<Flat> out;
  for (const auto& [code, list] : map) {
    for (const CDivideRecord& split : list) {
      uint64_t bits;
      std::memcpy(&bits, &split.ratio, 8);
      out.push_back({code, {split.date.ToNumber(), bits}});
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("in.bin");
  static const std::string first = TempPath("a.bin");
  static const std::string second = TempPath("b.bin");
  if (!WriteBytes(input, data, size)) return 0;

  CDivideMap map;
  Check(map.Load(input) == (size >= 8));
  size_t splits = 0;
  for (const auto& [code, list] : map) {
    Check(code.size() <= size && !list.empty());
    for (size_t i = 1; i < list.size(); ++i) {
      Check(list[i - 1].date.ToNumber() <= list[i].date.ToNumber());
    }
    splits += list.size();
  }
  Check(splits * 9 <= (size >= 8 ? size - 8 : 0));

  const CDate written(2024, 6, 14);
  fuzz::CheckSavedDatedToday<CDate>(map, second);
  fuzz::Fresh(first);
  // No folder, or a device that takes no byte (the failure shows when the
  // buffer flushes): the save fails.
  Check(!map.Save(first + ".none/x.bin", written));
  Check(access("/dev/full", W_OK) != 0 || !map.Save("/dev/full", written));
  if (map.Save(first, written)) {
    CDivideMap again;
    Check(again.Load(first) && again.Size() == map.Size());
    const std::vector<Flat> all = Splits(again);
    Check(all == Splits(map));
    fuzz::Fresh(second);
    Check(again.Save(second, written));
    const std::string saved = ReadBytes(first);
    Check(saved == ReadBytes(second));
    // A file that is not there fails the load and empties the map too.
    Check(!again.Load(TempPath("splits-none.bin")) && again.Empty());

    // The saved file cut after any byte (when small) loads exactly the
    // whole splits before the cut, and only with a whole header.
    for (size_t cut = 0; cut < saved.size() && saved.size() <= 2000; ++cut) {
      if (!WriteBytes(second, reinterpret_cast<const uint8_t*>(saved.data()), cut)) return 0;
      CDivideMap part;
      Check(part.Add("1301", {CDate(2024, 6, 6), 2}));  // a load empties the map first
      Check(part.Load(second) == (cut >= 8));
      size_t end = 8, whole = 0;
      while (whole < all.size() && (end += all[whole].first.size() + 9) <= cut) ++whole;
      Check(Splits(part) == std::vector<Flat>(all.begin(), all.begin() + whole));
    }
  }
  return 0;
}
