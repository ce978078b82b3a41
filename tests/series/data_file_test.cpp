// Chart and margin files. The readers are checked against bytes written here
// from the documented layouts (not by our writer), the writers against the
// same bytes, and both formats share the tests of cut and random files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "series/chart.h"
#include "series/chart_file.h"
#include "series/margin.h"
#include "series/margin_file.h"
#include "tests/common/temp_dir.h"
#include "tests/series/chart_test_util.h"

namespace {

std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}
std::string LeF32(float v) { uint32_t b; std::memcpy(&b, &v, 4); return Le(b, 4); }
std::string LeF64(double v) { uint64_t b; std::memcpy(&b, &v, 8); return Le(b, 8); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Chart record: date, open, high, low, close, volume (float32). The hand
// series has prices equal to the date number and volume ten times it.
std::string HandBar(uint32_t date, float o, float h, float l, float c, float v) {
  return Le(date, 4) + LeF32(o) + LeF32(h) + LeF32(l) + LeF32(c) + LeF32(v);
}
std::string HandBars(const std::vector<uint32_t>& dates) {
  std::string bytes;
  for (uint32_t d : dates) bytes += HandBar(d, d, d, d, d, d * 10.0f);
  return bytes;
}
CChart SeriesOn(const std::vector<uint32_t>& dates) {
  CChart chart;
  for (uint32_t d : dates) chart.push_back(Bar(d, d, d, d, d, d * 10.0));
  return chart;
}

// Margin record: date, buy, sell (float64); the hand series has buy equal
// to the date number and sell half of it.
std::string HandEntries(const std::vector<uint32_t>& dates) {
  std::string bytes;
  for (uint32_t d : dates) bytes += Le(d, 4) + LeF64(d) + LeF64(d / 2.0);
  return bytes;
}
CMarginRecord Entry(uint32_t date, double buy, double sell) {
  return {CDate(date / 10000, date / 100 % 100, date % 100), buy, sell};
}

struct Loaded {
  int32_t status;
  std::vector<uint32_t> dates;
};
uint32_t DateOf(const CDayRecord& bar) { return bar.DateNumber(); }
uint32_t DateOf(const CMarginRecord& entry) { return entry.date.ToNumber(); }
template <typename Series, typename Loader>
Loaded LoadDates(const TempDir& dir, int32_t last) {
  Series series;
  Loaded out{Loader(dir.path().c_str(), "1301", last).Load(series), {}};
  for (const auto& record : series) out.dates.push_back(DateOf(record));
  return out;
}

// The two formats, so that the reading tests run over both.
struct Format {
  const char* file;
  size_t recordBytes;
  std::string (*hand)(const std::vector<uint32_t>&);
  Loaded (*load)(const TempDir&, int32_t last);
};
const Format kFormats[] = {
    {"1301.dat", 24, HandBars, LoadDates<CChart, CChartLoaderFile>},
    {"mg1301.dat", 20, HandEntries, LoadDates<CMargin, CMarginLoaderFile>},
};

std::vector<uint32_t> OneTo(uint32_t n) {
  std::vector<uint32_t> dates(n);
  for (uint32_t d = 1; d <= n; ++d) dates[d - 1] = d;
  return dates;
}

}  // namespace

// Cut after every byte of three records: whole records are kept; 1-3 bytes
// after them are no date and end the file cleanly; 4 or more are a date
// without its values. Random bytes give exactly their whole records.
TEST(DataFileTest, CutAndRandomFilesGiveTheirWholeRecords) {
  for (const Format& f : kFormats) {
    TempDir dir;
    const std::string whole = f.hand({101, 102, 103});
    for (size_t n = 0; n <= whole.size(); ++n) {
      WriteBytes(dir.Sub(f.file), whole.substr(0, n));
      const Loaded loaded = f.load(dir, 0);
      EXPECT_EQ(n % f.recordBytes < 4 ? 0 : -2, loaded.status) << f.file << n;
      ASSERT_EQ(n / f.recordBytes, loaded.dates.size()) << f.file << n;
      for (size_t i = 0; i < loaded.dates.size(); ++i) EXPECT_EQ(101 + i, loaded.dates[i]);
    }
    uint32_t seed = 7;
    for (int round = 0; round < 40; ++round) {
      std::string noise(round * 37 % 400, '\0');
      for (char& c : noise) c = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
      // Noise with no zero prices in front, so that no bar is trimmed.
      for (size_t at = 4; at + 4 <= noise.size(); at += f.recordBytes) noise[at + 3] |= 0x40;
      WriteBytes(dir.Sub(f.file), noise);
      const Loaded loaded = f.load(dir, 0);
      EXPECT_EQ(noise.size() % f.recordBytes < 4 ? 0 : -2, loaded.status);
      ASSERT_EQ(noise.size() / f.recordBytes, loaded.dates.size()) << f.file << round;
      for (size_t i = 0; i < loaded.dates.size(); ++i) {
        EXPECT_EQ(noise.substr(i * f.recordBytes, 4), Le(loaded.dates[i], 4));
      }
    }
  }
}

TEST(DataFileTest, LastRecordsOnly) {
  struct Case { uint32_t records; int32_t last; size_t count; };
  const Case cases[] = {{1000, 330, 330}, {100, 330, 100}, {500, 60, 60},
                        {10, 60, 10},     {5, 1, 1},       {5, INT32_MAX, 5},
                        {5, 0, 5},        {5, -4, 5},      {0, 7, 0}};
  for (const Format& f : kFormats) {
    for (const Case& c : cases) {
      TempDir dir;
      WriteBytes(dir.Sub(f.file), f.hand(OneTo(c.records)));
      const Loaded loaded = f.load(dir, c.last);
      EXPECT_EQ(0, loaded.status);
      std::vector<uint32_t> tail = OneTo(c.records);
      tail.erase(tail.begin(), tail.end() - c.count);
      EXPECT_EQ(tail, loaded.dates) << f.file << c.records << "/" << c.last;
    }
  }
}

TEST(DataFileTest, MissingFilesFoldersAndFullDevices) {
  TempDir dir;
  CChart chart = SeriesOn({1, 2});
  const CMargin margin{Entry(20240105, 1, 2)};
  const char* folder = dir.path().c_str();
  for (const Format& f : kFormats) {
    EXPECT_EQ(-1, f.load(dir, 0).status) << f.file;  // no file
    std::filesystem::create_directory(dir.Sub(f.file));
    EXPECT_EQ(-1, f.load(dir, 3).status) << f.file;  // a folder
  }
  for (bool append : {false, true}) EXPECT_EQ(-1, CChartSaverFile(folder, "1301", append).Save(chart));
  EXPECT_EQ(-1, CMarginSaverFile(folder, "1301").Save(margin));
  // A device that takes no bytes: the write fails.
  ASSERT_EQ(0, symlink("/dev/full", dir.Sub("2.dat").c_str()));
  ASSERT_EQ(0, symlink("/dev/full", dir.Sub("mg2.dat").c_str()));
  EXPECT_EQ(-2, CChartSaverFile(folder, "2", false).Save(chart));
  EXPECT_EQ(-2, CMarginSaverFile(folder, "2").Save(margin));
}

TEST(ChartFileTest, LayoutRoundTripAndFloat32) {
  // 20240104, open 100, high 101.5, low 99.25, close 100.5, volume 12000.
  const std::string record(
      "\xe8\xd6\x34\x01" "\x00\x00\xc8\x42" "\x00\x00\xcb\x42"
      "\x00\x80\xc6\x42" "\x00\x00\xc9\x42" "\x00\x80\x3b\x46", 24);
  TempDir dir;
  const char* folder = dir.path().c_str();
  CChart chart{Bar(20240104, 100, 101.5, 99.25, 100.5, 12000)};
  chart[0].rawClose = 77;  // not stored
  ASSERT_TRUE(chart.Save(std::make_unique<CChartSaverFile>(folder, "1301", false)));
  EXPECT_EQ(record, ReadBytes(dir.Sub("1301.dat")));
  CChart loaded;
  ASSERT_TRUE(loaded.Load(std::make_unique<CChartLoaderFile>(folder, "1301", 0)));
  chart[0].rawClose = 100.5;
  EXPECT_EQ(chart, loaded);
  chart = {Bar(20240104, 1234.5678, 2e9 + 1, 0.1, 1234.5678, 123456789)};
  ASSERT_TRUE(chart.Save(std::make_unique<CChartSaverFile>(folder, "7203A", false)));
  ASSERT_TRUE(loaded.Load(std::make_unique<CChartLoaderFile>(folder, "7203A", 0)));
  CDayRecord narrowed = Bar(20240104, 1234.5678f, 2e9f, 0.1f, 1234.5678f, 123456789.0f);
  narrowed.rawClose = narrowed.close;
  EXPECT_EQ(CChart{narrowed}, loaded);
}

TEST(ChartFileTest, LeadingZeroPricesAreDropped) {
  TempDir dir;
  const char* folder = dir.path().c_str();
  WriteBytes(dir.Sub("1301.dat"),
             HandBar(1, 0, 5, 5, 5, 1) + HandBar(2, 5, 5, 0, 5, 1) + HandBars({3}));
  CChart chart;
  EXPECT_EQ(0, CChartLoaderFile(folder, "1301", 0).Load(chart));
  EXPECT_EQ(DateList({3}), Dates(chart));
  // Saving drops them from the file and from the caller's series.
  chart = {Bar(1, 5, 5, 0, 5), Bar(2, 5, 5, 5, 5, 9)};
  ASSERT_EQ(0, CChartSaverFile(folder, "1301", false).Save(chart));
  EXPECT_EQ(DateList({2}), Dates(chart));
  EXPECT_EQ(HandBar(2, 5, 5, 5, 5, 9), ReadBytes(dir.Sub("1301.dat")));
}

TEST(ChartFileTest, AppendAddsOnlyNewerBars) {
  struct Case { std::string before; std::vector<uint32_t> series; std::string after; bool append; };
  const std::string last = HandBar(UINT32_MAX, 1, 1, 1, 1, 1);
  const Case cases[] = {
      {"-", {1, 2, 3}, HandBars({1, 2, 3}), true},  // no file
      {"", {1, 2}, HandBars({1, 2}), true},
      {HandBars({1, 2}), {1, 2}, HandBars({1, 2}), true},
      {HandBars({1, 5}), {1, 2, 3}, HandBars({1, 5}), true},
      {HandBars({1, 3}), {2, 3, 4, 5}, HandBars({1, 3, 4, 5}), true},
      {"0123456789", {1, 2}, "0123456789" + HandBars({1, 2}), true},
      {last, {1}, last, true},  // no date follows the largest one
      {HandBars({1, 2, 3, 4}), {7}, HandBars({7}), false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    if (c.before != "-") WriteBytes(dir.Sub("1301.dat"), c.before);
    CChart chart = SeriesOn(c.series);
    EXPECT_EQ(0, CChartSaverFile(dir.path().c_str(), "1301", c.append).Save(chart));
    EXPECT_EQ(c.after, ReadBytes(dir.Sub("1301.dat"))) << c.before.size() << c.after.size();
  }
}

TEST(MarginFileTest, LayoutAndRoundTrip) {
  // 20240105, buy 1234567, sell 0.1.
  const std::string record(
      "\xe9\xd6\x34\x01" "\x00\x00\x00\x00\x87\xd6\x32\x41"
      "\x9a\x99\x99\x99\x99\x99\xb9\x3f", 20);
  TempDir dir;
  const char* folder = dir.path().c_str();
  WriteBytes(dir.Sub("mg1301.dat"), HandEntries({1, 2, 3}));
  const CMargin margin{Entry(20240105, 1234567, 0.1)};
  ASSERT_TRUE(margin.Save(std::make_unique<CMarginSaverFile>(folder, "1301")));
  EXPECT_EQ(record, ReadBytes(dir.Sub("mg1301.dat")));  // replaced whole
  CMargin loaded{Entry(1, 1, 1), Entry(2, 2, 2)};
  ASSERT_TRUE(loaded.Load(std::make_unique<CMarginLoaderFile>(folder, "1301", 0)));
  EXPECT_EQ(margin, loaded);
  EXPECT_FALSE(loaded.Load(std::make_unique<CMarginLoaderFile>(folder, "9999", 0)));
  EXPECT_TRUE(loaded.empty());
  ASSERT_EQ(0, CMarginSaverFile(folder, "1301").Save(CMargin()));
  EXPECT_TRUE(std::filesystem::exists(dir.Sub("mg1301.dat")));
  EXPECT_EQ("", ReadBytes(dir.Sub("mg1301.dat")));
}
