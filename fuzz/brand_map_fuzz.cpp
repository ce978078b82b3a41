// Feeds arbitrary bytes to CBrandMap::Load as an issue list file. Besides
// the sanitizers' checks it stops on any broken promise of the reader: a
// result that disagrees with the header's presence, a record filed under
// another code, a code or text that holds a NUL or is longer than the
// file, more records than the bytes can hold, or a map that does not write,
// read back as the same records (numbers bit for bit) and write again to
// the same bytes, or a written file that, cut after any byte, loads other
// than the whole records before the cut, or a save without a date whose
// header does not carry today's, or a load of a missing file that fails to
// fail or keeps the old records. Each map is also printed (to
// /dev/null), which converts its texts from CP932 whatever they hold.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/brand_map.h"
#include "fuzz/fuzz_files.h"
#include "support/date.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

namespace {

bool HoldsNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}


// The shortest record: an empty code and its NUL (a version 1 code takes
// 4 bytes), the kind, three empty texts, unit, lendable and four doubles.
constexpr size_t kShortestRecord = 1 + 4 + 3 + 4 + 4 + 4 * 8;

bool SameRecord(const CBrandRecord& a, const CBrandRecord& b) {
  const double x[] = {a.sharesOutstanding, a.dividend, a.eps, a.bps};
  const double y[] = {b.sharesOutstanding, b.dividend, b.eps, b.bps};
  return a.code == b.code && a.kind == b.kind && a.market == b.market &&
         a.industry == b.industry && a.name == b.name && a.unit == b.unit &&
         a.lendable == b.lendable && std::memcmp(x, y, sizeof(x)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("in.bin");
  static const std::string first = TempPath("a.bin");
  static const std::string second = TempPath("b.bin");
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  if (!WriteBytes(input, data, size)) return 0;

  CBrandMap map;
  Check(map.Load(input) == (size >= 8));
  // Texts load whole, however long, but never hold more bytes than the file.
  size_t textBytes = 0;
  for (const auto& [code, record] : map) {
    Check(code == record.code);
    Check(!HoldsNul(code) && !HoldsNul(record.market) &&
          !HoldsNul(record.industry) && !HoldsNul(record.name));
    textBytes += code.size() + record.market.size() + record.industry.size() +
                 record.name.size();
  }
  Check(textBytes <= size);
  Check(map.Size() * kShortestRecord <= (size >= 8 ? size - 8 : 0));
  if (sink != nullptr) map.Dump(false, sink);

  const CDate written(2024, 6, 14);
  fuzz::CheckSavedDatedToday<CDate>(map, second);
  fuzz::Fresh(first);
  Check(map.Save(first, written));
  // No folder, or a device that takes no byte (the failure shows when the
  // buffer flushes): the save fails.
  Check(!map.Save(first + ".none/x.bin", written));
  Check(access("/dev/full", W_OK) != 0 || !map.Save("/dev/full", written));
  CBrandMap again;
  Check(again.Load(first));
  Check(again.Size() == map.Size());
  for (auto i = map.begin(), j = again.begin(); i != map.end() && j != again.end(); ++i, ++j) {
    Check(SameRecord(i->second, j->second));
  }
  fuzz::Fresh(second);
  Check(again.Save(second, written));
  const std::string saved = ReadBytes(first);
  Check(saved == ReadBytes(second));
  // A file that is not there fails the load and empties the map too.
  Check(!again.Load(TempPath("brands-none.bin")) && again.Empty());

  // The saved file cut after any byte (when small) loads exactly the whole
  // records before the cut, and only with a whole header.
  if (saved.size() > 2000) return 0;
  for (size_t cut = 0; cut < saved.size(); ++cut) {
    if (!WriteBytes(second, reinterpret_cast<const uint8_t*>(saved.data()), cut)) return 0;
    CBrandMap part;
    Check(part.Insert({"0000", 1, "", "", ""}));  // a load empties the map first
    Check(part.Load(second) == (cut >= 8));
    size_t end = 8;
    auto i = map.begin(), j = part.begin();
    for (; i != map.end(); ++i, ++j) {
      const CBrandRecord& r = i->second;
      end += r.code.size() + r.market.size() + r.industry.size() + r.name.size() + kShortestRecord;
      if (end > cut) break;
      Check(j != part.end() && SameRecord(r, j->second));
    }
    Check(j == part.end());
  }
  return 0;
}
