#include "db/divide_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/cp932.h"
#include "tests/common/temp_dir.h"

// This file is compiled with CP932 literals. File contents are built byte
// by byte from the layout of the split list file, never by the writer.

namespace {

using Bytes = std::string;
using Entries = std::vector<std::pair<std::string, CDivideRecord>>;

const Bytes kHeaderV2("\x00\x00\x00\x40" "\xE6\xD8\x34\x01", 8);  // 2.0f, 20240614
const Bytes kHeaderV1("\x00\x00\x80\x3F" "\x15\xDB\x32\x01", 8);  // 1.0f, 20110101
const Bytes kTwo("\x00\x00\x00\x40", 4);
const Bytes kOneHalf("\x00\x00\xC0\x3F", 4);
const Bytes kHalf("\x00\x00\x00\x3F", 4);
const Bytes kThree("\x00\x00\x40\x40", 4);
const Bytes kTen("\x00\x00\x20\x41", 4);

Bytes Code(const std::string& code) { return code + Bytes(1, '\0'); }

Bytes U32(std::uint32_t v) {
  Bytes b;
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
  return b;
}

CDivideRecord Split(std::uint32_t date, double ratio) {
  return {CDate(date / 10000, date / 100 % 100, date % 100), ratio};
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every split of the map as (code, split), in map and list order.
Entries Flat(const CDivideMap& map) {
  Entries out;
  for (const auto& [code, list] : map) {
    EXPECT_FALSE(list.empty()) << code;
    for (const CDivideRecord& split : list) out.emplace_back(code, split);
  }
  return out;
}

// Four records in code and date order, their bytes and where each ends.
struct SmallFile {
  Entries entries = {{"1301", Split(19990104, 1.5)},
                     {"1301", Split(20240606, 2)},
                     {"7203", Split(20000101, 10)},
                     {"\x82\x50", Split(20240606, 0.5)}};
  std::vector<std::size_t> ends;
  Bytes bytes = kHeaderV2;

  SmallFile() {
    // Dates 19990104, 20240606, 20000101, 20240606.
    for (const Bytes& record : {Code("1301") + "\x58\x06\x31\x01" + kOneHalf,
                                Code("1301") + "\xDE\xD8\x34\x01" + kTwo,
                                Code("7203") + "\x65\x2D\x31\x01" + kTen,
                                Code("\x82\x50") + "\xDE\xD8\x34\x01" + kHalf}) {
      bytes += record;
      ends.push_back(bytes.size());
    }
  }
};

}  // namespace

void PrintTo(const CDivideRecord& r, std::ostream* os) {
  *os << "{" << r.date.ToNumber() << "," << r.ratio << "}";
}

TEST(DivideMapFileTest, Version2FileMatchesTheLayoutBothWays) {
  TempDir dir;
  SmallFile f;
  WriteFile(dir.Sub("in.bin"), f.bytes);
  CDivideMap map;
  ASSERT_TRUE(map.Load(dir.Sub("in.bin")));
  EXPECT_EQ(f.entries, Flat(map));

  CDivideMap added;  // codes added out of order; written in code order
  for (int i : {3, 2, 0, 1}) ASSERT_TRUE(added.Add(f.entries[i].first, f.entries[i].second));
  ASSERT_TRUE(added.Save(dir.Sub("out.bin"), CDate(2024, 6, 14)));
  EXPECT_EQ(f.bytes, ReadFile(dir.Sub("out.bin")));

  // Without a date, the header carries today (either day around midnight).
  CDate before = CDate::Today();
  ASSERT_TRUE(map.Save(dir.Sub("today.bin")));
  Bytes date = ReadFile(dir.Sub("today.bin")).substr(4, 4);
  EXPECT_TRUE(date == U32(before.ToNumber()) || date == U32(CDate::Today().ToNumber()));
}

TEST(DivideMapFileTest, Version1CodesAreSixteenBitNumbers) {
  TempDir dir;
  // 7203 = 0x1C23, -5 = 0xFFFB; the two 7203 splits are out of date order.
  const Bytes records = Bytes("\x23\x1C") + "\xDE\xD8\x34\x01" + kTwo +
                        Bytes("\x23\x1C") + "\x58\x06\x31\x01" + kOneHalf +
                        Bytes("\xFB\xFF") + "\x65\x2D\x31\x01" + kThree;
  WriteFile(dir.Sub("v1.bin"), kHeaderV1 + records);
  CDivideMap map;
  ASSERT_TRUE(map.Load(dir.Sub("v1.bin")));
  const Entries expected = {{"-5", Split(20000101, 3)},
                            {"7203", Split(19990104, 1.5)},
                            {"7203", Split(20240606, 2)}};
  EXPECT_EQ(expected, Flat(map));

  // Saved as version 2 and read back.
  ASSERT_TRUE(map.Save(dir.Sub("v2.bin")));
  CDivideMap again;
  ASSERT_TRUE(again.Load(dir.Sub("v2.bin")));
  EXPECT_EQ(expected, Flat(again));

  // The version alone picks the form: just below 2.0 is version 1; NaN is
  // not below 2.0: as version 2 the first code runs up to the NUL in the
  // first ratio, and the next one is the last byte of the second date.
  WriteFile(dir.Sub("a.bin"), Bytes("\xFF\xFF\xFF\x3F", 4) + U32(0) + records);
  ASSERT_TRUE(map.Load(dir.Sub("a.bin")));
  EXPECT_EQ(expected, Flat(map));
  WriteFile(dir.Sub("b.bin"), Bytes("\x00\x00\xC0\x7F", 4) + U32(0) + records);
  ASSERT_TRUE(map.Load(dir.Sub("b.bin")));
  EXPECT_EQ(2u, map.Size());
  EXPECT_NE(nullptr, map.Find("\x23\x1C\xDE\xD8\x34\x01"));
  EXPECT_NE(nullptr, map.Find("\x01"));
}

TEST(DivideMapFileTest, RoundTripKeepsAwkwardValues) {
  TempDir dir;
  const Entries entries = {{"", Split(0, 1)},
                           {std::string(20, '9'), Split(20240229, 1e30)},
                           {"O'Neil\\", Split(99999999, 1.1)},  // no real date
                           {"O'Neil\\", Split(4294967295u, 1e-3)},
                           {"\x95\x5C", Split(20240606, -0.0)}};
  CDivideMap map;
  for (const auto& [code, split] : entries) ASSERT_TRUE(map.Add(code, split));
  ASSERT_TRUE(map.Save(dir.Sub("r.bin")));
  CDivideMap loaded;
  ASSERT_TRUE(loaded.Load(dir.Sub("r.bin")));
  Entries narrowed = entries;  // the file holds the ratio as a float
  for (auto& [code, split] : narrowed) split.ratio = static_cast<float>(split.ratio);
  EXPECT_EQ(narrowed, Flat(loaded));
  EXPECT_NE(1.1, loaded.Find("O'Neil\\")->front().ratio);
  EXPECT_EQ(nullptr, loaded.Find("O'Neil"));
}

TEST(DivideMapDamageTest, EveryCutKeepsTheWholeRecordsBeforeIt) {
  TempDir dir;
  SmallFile f;
  const std::string path = dir.Sub("cut.bin");
  CDivideMap map;
  map.Add("1301", Split(20240606, 2));
  EXPECT_FALSE(map.Load(dir.Sub("absent.bin")));
  EXPECT_TRUE(map.Empty());
  for (std::size_t length = 0; length <= f.bytes.size(); ++length) {
    SCOPED_TRACE(length);
    WriteFile(path, f.bytes.substr(0, length));
    map.Add("1301", Split(20240606, 2));  // emptied by every Load
    ASSERT_EQ(length >= 8, map.Load(path));
    auto whole = std::count_if(f.ends.begin(), f.ends.end(),
                               [length](std::size_t end) { return end <= length; });
    EXPECT_EQ(Entries(f.entries.begin(), f.entries.begin() + whole), Flat(map));
  }
}

TEST(DivideMapDamageTest, OverlongCodeEndsTheList) {
  TempDir dir;
  SmallFile f;
  const Bytes whole = Code("9999") + U32(20240606) + kTwo;
  CDivideMap map;
  // 21 bytes before the NUL, and 1 MB without one; the record after it
  // must not load either.
  for (const Bytes& code : {Code(std::string(21, '2')), Bytes(1 << 20, 'x')}) {
    WriteFile(dir.Sub("bad.bin"), f.bytes + code + U32(20240606) + kTwo + whole);
    ASSERT_TRUE(map.Load(dir.Sub("bad.bin")));
    EXPECT_EQ(f.entries, Flat(map));
  }
  WriteFile(dir.Sub("limit.bin"), kHeaderV2 + Code(std::string(20, '2')) + U32(20240606) +
                                      kTwo + whole);
  ASSERT_TRUE(map.Load(dir.Sub("limit.bin")));
  EXPECT_EQ(2u, map.Size());
}

TEST(DivideMapDamageTest, RandomBytesLoadWithinBounds) {
  TempDir dir;
  const std::string path = dir.Sub("random.bin");
  std::mt19937 random(20240614);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    Bytes bytes(random() % 400, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    // Mostly zero bytes in a third of the files, so that codes end early.
    if (round % 3 == 0) {
      for (char& c : bytes) c = random() % 4 ? '\0' : c;
    }
    if (round % 3 == 1 && bytes.size() >= 8) bytes.replace(0, 8, kHeaderV1);
    WriteFile(path, bytes);
    CDivideMap map;
    ASSERT_EQ(bytes.size() >= 8, map.Load(path));
    const Entries entries = Flat(map);
    // The smallest record is 9 bytes (an empty code's NUL, date, ratio).
    EXPECT_LE(entries.size() * 9, bytes.size() < 8 ? 0 : bytes.size() - 8);
    for (const auto& [code, list] : map) {
      EXPECT_LE(code.size(), kMaxCodeBytes);
      EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](auto& a, auto& b) {
        return a.date.ToNumber() < b.date.ToNumber();
      }));
    }
    // What was read is written and read back the same, byte for byte.
    ASSERT_TRUE(map.Save(dir.Sub("a.bin"), CDate(2024, 6, 14)));
    ASSERT_TRUE(map.Load(dir.Sub("a.bin")));
    ASSERT_TRUE(map.Save(dir.Sub("b.bin"), CDate(2024, 6, 14)));
    EXPECT_EQ(ReadFile(dir.Sub("a.bin")), ReadFile(dir.Sub("b.bin")));
    std::size_t size = 8;
    for (const auto& [code, split] : entries) size += code.size() + 9;
    EXPECT_EQ(size, ReadFile(dir.Sub("a.bin")).size());
  }
}

TEST(DivideMapTest, AddRefusalsSaveFailuresAndDump) {
  TempDir dir;
  CDivideMap map;
  EXPECT_FALSE(map.Add(std::string(21, '1'), Split(20240606, 2)));
  EXPECT_FALSE(map.Add(std::string("72\0" "3", 4), Split(20240606, 2)));
  EXPECT_TRUE(map.Empty());
  ASSERT_TRUE(map.Add("7203", Split(20240606, 2)));
  ASSERT_TRUE(map.Add("7203", Split(19990104, 1.5)));  // kept in the order added
  ASSERT_TRUE(map.Add("1301", Split(20000101, 0.25)));
  EXPECT_EQ((CDivide{Split(20240606, 2), Split(19990104, 1.5)}), *map.Find("7203"));
  EXPECT_FALSE(map.Save(dir.Sub("no/such/folder/x.bin")));
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(map.Save("/dev/full"));
  }

  std::FILE* out = std::tmpfile();
  map.Dump(out);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(out);
  EXPECT_EQ("[1301] Num=1\n [20000101]0.250000\n[7203] Num=2\n [20240606]2.000000\n"
            " [19990104]1.500000\n銘柄数=2\n",
            Cp932FromUtf8(text));
}
