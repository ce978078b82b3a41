#include "db/divide_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/file_bytes.h"
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
const Bytes kJune6("\xDE\xD8\x34\x01");  // 20240606

CDivideRecord Split(std::uint32_t date, double ratio) {
  return {CDate(date / 10000, date / 100 % 100, date % 100), ratio};
}

// Every split of the map as (code, split), in map and list order.
Entries Flat(const CDivideMap& map) {
  Entries out;
  for (const auto& [code, list] : map) for (auto& split : list) out.emplace_back(code, split);
  return out;
}

// Four version 2 records in code and date order (dates 19990104, 20240606,
// 20000101, 20240606).
const Entries kSmall = {{"1301", Split(19990104, 1.5)}, {"1301", Split(20240606, 2)},
                        {"7203", Split(20000101, 10)}, {"\x82\x50", Split(20240606, 0.5)}};
const Bytes kSmallBytes = kHeaderV2 + Text0("1301") + "\x58\x06\x31\x01" + kOneHalf +
                          Text0("1301") + kJune6 + kTwo + Text0("7203") +
                          Bytes("\x65\x2D\x31\x01\x00\x00\x20\x41", 8) + Text0("\x82\x50") +
                          kJune6 + Bytes("\x00\x00\x00\x3F", 4);

}  // namespace

TEST(DivideMapFileTest, Version2FileMatchesTheLayoutBothWays) {
  TempDir dir;
  WriteBytes(dir.Sub("in.bin"), kSmallBytes);
  CDivideMap map;
  ASSERT_TRUE(map.Load(dir.Sub("in.bin")));
  EXPECT_EQ(kSmall, Flat(map));

  CDivideMap added;  // codes added out of order; written in code order
  for (int i : {3, 2, 0, 1}) ASSERT_TRUE(added.Add(kSmall[i].first, kSmall[i].second));
  ASSERT_TRUE(added.Save(dir.Sub("out.bin"), CDate(2024, 6, 14)));
  EXPECT_EQ(kSmallBytes, ReadBytes(dir.Sub("out.bin")));

  // Without a date, the header carries today (unless midnight passed).
  const std::uint32_t today = CDate::Today().ToNumber();
  ASSERT_TRUE(map.Save(dir.Sub("today.bin")) && map.Save(dir.Sub("dated.bin"), CDate::Today()));
  EXPECT_TRUE(ReadBytes(dir.Sub("today.bin")) == ReadBytes(dir.Sub("dated.bin")) ||
              today != CDate::Today().ToNumber());
}

TEST(DivideMapFileTest, Version1CodesAreSixteenBitNumbers) {
  TempDir dir;
  // 7203 = 0x1C23, -5 = 0xFFFB; the two 7203 splits are out of date order.
  const Bytes records = Bytes("\x23\x1C") + kJune6 + kTwo +
                        Bytes("\x23\x1C") + "\x58\x06\x31\x01" + kOneHalf +
                        Bytes("\xFB\xFF") + "\x65\x2D\x31\x01" + Bytes("\x00\x00\x40\x40", 4);
  const Entries expected = {
      {"-5", Split(20000101, 3)}, {"7203", Split(19990104, 1.5)}, {"7203", Split(20240606, 2)}};
  CDivideMap map;
  // 1.0 and the float just below 2.0 are version 1.
  for (const Bytes& header : {kHeaderV1, Bytes("\xFF\xFF\xFF\x3F\0\0\0\0", 8)}) {
    WriteBytes(dir.Sub("v1.bin"), header + records);
    ASSERT_TRUE(map.Load(dir.Sub("v1.bin")));
    EXPECT_EQ(expected, Flat(map));
  }

  // NaN is not below 2.0: as version 2 the first code runs up to the NUL in
  // the first ratio, and the next one is the last byte of the second date.
  WriteBytes(dir.Sub("nan.bin"), Bytes("\x00\x00\xC0\x7F\0\0\0\0", 8) + records);
  ASSERT_TRUE(map.Load(dir.Sub("nan.bin")));
  EXPECT_EQ(2u, map.Size());
  EXPECT_NE(nullptr, map.Find("\x23\x1C\xDE\xD8\x34\x01"));
  EXPECT_NE(nullptr, map.Find("\x01"));
}

// Odd codes and dates round trip in the fuzz seeds.
TEST(DivideMapFileTest, AddKeepsTheOrderAndRefusesWhatTheFileCannotCarry) {
  TempDir dir;
  CDivideMap map;
  EXPECT_FALSE(map.Add(std::string(21, '1'), Split(20240606, 2)));
  EXPECT_FALSE(map.Add(std::string("72\0" "3", 4), Split(20240606, 2)));
  EXPECT_TRUE(map.Empty());
  const Entries entries = {{"7203", Split(20240606, 2)}, {"7203", Split(19990104, 1.5)}};
  for (const auto& [code, split] : entries) ASSERT_TRUE(map.Add(code, split));
  EXPECT_EQ(entries, Flat(map));
  EXPECT_FALSE(map.Save(dir.Sub("no/such/folder/x.bin")));
  EXPECT_TRUE(!std::filesystem::exists("/dev/full") || !map.Save("/dev/full"));
}

// Every cut of a file is checked by the fuzz target.
TEST(DivideMapDamageTest, AnAbsentFileLoadsNothingAndLongCodesLoad) {
  TempDir dir;
  const std::string path = dir.Sub("cut.bin");
  CDivideMap map;
  ASSERT_TRUE(map.Add("1301", Split(20240606, 2)));
  EXPECT_FALSE(map.Load(dir.Sub("absent.bin")));
  EXPECT_TRUE(map.Empty());

  // A code of any length loads whole, and so does every record after it;
  // where a code is used decides whether it is usable.
  const Bytes rest = kJune6 + kTwo + Text0("9999") + kJune6 + kTwo;
  const std::string longCode(1000, '2');
  WriteBytes(path, kSmallBytes + Text0(longCode) + rest);
  ASSERT_TRUE(map.Load(path));
  EXPECT_EQ(kSmall.size() + 2, Flat(map).size());
  ASSERT_TRUE(map.Find(longCode) != nullptr && map.Find("9999") != nullptr);
  EXPECT_FALSE(map.Add(longCode, Split(20240606, 2)));
}

