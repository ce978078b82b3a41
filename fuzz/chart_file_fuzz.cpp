// Feeds arbitrary bytes to CChartLoaderFile as a chart file. Besides the
// sanitizers' checks it stops on any broken promise of the reader: a status
// other than "read to the end" for a file of whole records (a left-over of
// under 4 bytes included) or other than "cut" for one with a left-over date;
// a bar count other than the file's whole records less the trimmed leading
// bars with a zero price; a bar whose date or values are not those of its
// record; a read of the last N records that is not the tail of the whole;
// a series that does not survive being written and read again with the same
// bytes the second time; an append that changes the bytes already there or
// adds anything but whole records, or (for a series in date order) anything
// but the bars dated after the file's last record, or all of them to a file
// shorter than one record.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "fuzz/fuzz_files.h"
#include "series/chart.h"
#include "series/chart_file.h"
#include "series/record_file.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

namespace {

constexpr size_t kRecord = 24;

bool HasZeroPrice(const unsigned char* at) {
  for (int i = 1; i <= 4; ++i) {
    if (GetLittleF32(at + 4 * i) == 0.0f) return true;
  }
  return false;
}

// Same value, or both not a number (a signalling NaN comes back quiet).
bool SameValue(double a, float b) {
  return (a != a && b != b) || static_cast<float>(a) == b;
}

// Same date and bit for bit the same six values.
bool SameBar(const CDayRecord& a, const CDayRecord& b) {
  return a.DateNumber() == b.DateNumber() &&
         std::memcmp(&a.open, &b.open, 6 * sizeof(double)) == 0;
}

int32_t Load(const std::string& path, int32_t last, CChart& chart) {
  chart.clear();
  return CChartLoaderFile(path.c_str(), "", last).Load(chart);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("chart.dat");
  static const std::string first = TempPath("chart-a.dat");
  static const std::string second = TempPath("chart-b.dat");
  if (!WriteBytes(input, data, size)) return 0;

  const size_t whole = size / kRecord;
  const bool cut = size % kRecord >= 4;
  CChart chart;
  const int32_t status = Load(input, 0, chart);
  Check(status == (cut ? CChartLoaderFile::kCut : CChartLoaderFile::kOk));
  size_t skipped = 0;
  if (!cut) {
    while (skipped < whole && HasZeroPrice(data + skipped * kRecord)) ++skipped;
  }
  Check(chart.size() == whole - skipped);
  for (size_t i = 0; i < chart.size(); ++i) {
    const unsigned char* at = data + (skipped + i) * kRecord;
    const CDayRecord& bar = chart[i];
    Check(bar.DateNumber() == GetLittleU32(at));
    Check(SameValue(bar.open, GetLittleF32(at + 4)) &&
          SameValue(bar.high, GetLittleF32(at + 8)) &&
          SameValue(bar.low, GetLittleF32(at + 12)) &&
          SameValue(bar.close, GetLittleF32(at + 16)) &&
          SameValue(bar.volume, GetLittleF32(at + 20)));
    Check(std::memcmp(&bar.rawClose, &bar.close, sizeof(double)) == 0);
  }

  // Appended to a file shorter than one record (the input's bytes after its
  // whole records, none for a file of whole records), the series adds all
  // its bars (those a save keeps), as a write of them alone gives them,
  // after those bytes.
  const size_t left = size % kRecord;
  CChart kept = chart;
  if (!WriteBytes(input, data + size - left, left)) return 0;
  Check(CChartSaverFile(input.c_str(), "", true).Save(kept) == CChartSaverFile::kOk);
  fuzz::Fresh(first);
  Check(CChartSaverFile(first.c_str(), "", false).Save(kept) == CChartSaverFile::kOk);
  // A folder in the file's place cannot be opened, appending or not; a
  // device that takes no byte fails the write of any bar.
  for (const bool append : {false, true}) {
    Check(CChartSaverFile("/", "", append).Save(kept) == CChartSaverFile::kCannotOpen);
  }
  Check(kept.empty() || access("/dev/full", W_OK) != 0 ||
        CChartSaverFile("/dev/full", "", false).Save(kept) == CChartSaverFile::kCannotWrite);
  const std::string appended = ReadBytes(input);
  Check(appended.size() == left + kept.size() * kRecord &&
        appended.compare(0, left, reinterpret_cast<const char*>(data) + size - left, left) == 0 &&
        appended.compare(left, std::string::npos, ReadBytes(first)) == 0);
  if (cut || !WriteBytes(input, data, size)) return 0;

  // The last N records: the tail of the whole file, trimmed the same way.
  // N from the first byte: -4 to 7 (none or negative: every record), or
  // the largest count for 0x7F.
  const int32_t last = size == 0 ? 0
                       : data[0] == 0x7F ? INT32_MAX
                                         : static_cast<int8_t>(data[0]) % 8;
  size_t start = last > 0 && static_cast<size_t>(last) < whole ? whole - last : 0;
  while (start < whole && HasZeroPrice(data + start * kRecord)) ++start;
  CChart tail;
  // No file, or a folder, cannot be opened, whatever the count.
  Check(Load(input + ".none", last, tail) == CChartLoaderFile::kCannotOpen &&
        Load("/", last, tail) == CChartLoaderFile::kCannotOpen);
  Check(Load(input, last, tail) == CChartLoaderFile::kOk);
  Check(tail.size() == whole - start);
  for (size_t i = 0; i < tail.size(); ++i) {
    Check(SameBar(tail[i], chart[start - skipped + i]));
  }

  // Written and read back twice: the same bytes the second time.
  fuzz::Fresh(first);
  Check(CChartSaverFile(first.c_str(), "", false).Save(chart) ==
        CChartSaverFile::kOk);
  Check(ReadBytes(first).size() == chart.size() * kRecord);
  CChart again;
  Check(Load(first, 0, again) == CChartLoaderFile::kOk);
  Check(again.size() == chart.size());
  fuzz::Fresh(second);
  Check(CChartSaverFile(second.c_str(), "", false).Save(again) ==
        CChartSaverFile::kOk);
  const std::string written = ReadBytes(first);
  Check(written == ReadBytes(second));

  // Appending the series to the file it came from keeps what is there.
  const std::string before(reinterpret_cast<const char*>(data), size);
  if (!WriteBytes(input, data, size)) return 0;
  Check(CChartSaverFile(input.c_str(), "", true).Save(chart) ==
        CChartSaverFile::kOk);
  const std::string after = ReadBytes(input);
  Check(after.size() >= size && after.compare(0, size, before) == 0);
  // A series in date order adds only its bars dated after the date of the
  // file's last 24 bytes (all of them to a shorter file).
  const auto later = [](const CDayRecord& a, const CDayRecord& b) {
    return a.DateNumber() < b.DateNumber();
  };
  if (std::adjacent_find(chart.begin(), chart.end(), std::not_fn(later)) == chart.end()) {
    const uint32_t lastDate = size >= kRecord ? GetLittleU32(data + size - kRecord) : 0;
    const size_t added = std::count_if(chart.begin(), chart.end(), [&](const CDayRecord& bar) {
      return size < kRecord || bar.DateNumber() > lastDate;
    });
    Check(after.size() == size + added * kRecord);
  }
  return 0;
}
