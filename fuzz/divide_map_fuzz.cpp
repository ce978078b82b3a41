// Feeds arbitrary bytes to CDivideMap::Load as a split list file. Besides
// the sanitizers' checks it stops on any broken promise of the reader: a
// result that disagrees with the header's presence, more splits than the
// bytes can hold, a code longer than the file, an unsorted list, or a
// file that does not read back the same after Save, as splits (ratios bit
// for bit) and as bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "db/divide_map.h"
#include "fuzz/fuzz_files.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

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
  fuzz::Fresh(first);
  if (map.Save(first, written)) {
    CDivideMap again;
    Check(again.Load(first) && again.Size() == map.Size());
    for (auto i = map.begin(), j = again.begin(); i != map.end() && j != again.end(); ++i, ++j) {
      Check(i->first == j->first && i->second.size() == j->second.size());
      for (size_t k = 0; k < i->second.size() && k < j->second.size(); ++k) {
        Check(i->second[k].date.ToNumber() == j->second[k].date.ToNumber() &&
              std::memcmp(&i->second[k].ratio, &j->second[k].ratio, sizeof(double)) == 0);
      }
    }
    fuzz::Fresh(second);
    Check(again.Save(second, written));
    Check(ReadBytes(first) == ReadBytes(second));
  }
  return 0;
}
