#include "db/brand_map.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/cp932.h"
#include "tests/common/file_bytes.h"
#include "tests/common/temp_dir.h"

// This file is compiled with CP932 literals. File contents are built byte
// by byte from the layout of the issue list file, never by the writer.

namespace {

using Bytes = std::string;
using Records = std::vector<CBrandRecord>;

const Bytes kHeaderV2("\x00\x00\x00\x40" "\xBB\xD7\x34\x01", 8);  // 2.0f, 20240315
const Bytes kHeaderV1("\x00\x00\x80\x3F" "\x15\xDB\x32\x01", 8);  // 1.0f, 20110101
const Bytes kOne = LeF64(1.0), kZero(8, '\0');

Bytes U32(std::uint32_t v) { return Le(v, 4); }

// The fields after the code; the four doubles are given as bytes.
Bytes Tail(std::int32_t kind, const std::string& market, const std::string& industry,
           const std::string& name, std::uint32_t unit, std::uint32_t lendable,
           const Bytes& shares = kZero, const Bytes& dividend = kZero, const Bytes& eps = kZero,
           const Bytes& bps = kZero) {
  return U32(kind) + Text0(market) + Text0(industry) + Text0(name) + U32(unit) + U32(lendable) +
         shares + dividend + eps + bps;
}
const Bytes kPlainTail = Tail(1, "M", "I", "N", 1, 0);

Records RecordsOf(const CBrandMap& map) {
  Records out;
  for (const auto& [code, record] : map) out.push_back(record);
  return out;
}

// Three records in code order and their bytes.
struct SmallFile {
  Records records = {
      {"1301", 1, "東証プライム", "水産・農林業", "極洋", 100, 1, 1e9, 1.0, -0.5, 1.0},
      {"130A", 2, "東証", "", "ETF", 1},
      {"7203", 1, "東証プライム", "輸送用機器", "トヨタ自動車", 100, 2}};
  Bytes bytes = kHeaderV2 +
                Text0("1301") + Tail(1, "東証プライム", "水産・農林業", "極洋", 100, 1, LeF64(1e9), kOne,
                                     LeF64(-0.5), kOne) +
                Text0("130A") + Tail(2, "東証", "", "ETF", 1, 0) +
                Text0("7203") + Tail(1, "東証プライム", "輸送用機器", "トヨタ自動車", 100, 2);
};

class BrandMapTest : public ::testing::Test {
 protected:
  // Writes `bytes` to the file `name` and returns its path.
  std::string Put(const std::string& name, const Bytes& bytes) { return WriteBytes(dir_.Sub(name), bytes); }
  TempDir dir_;
  SmallFile f_;
  CBrandMap map_;
};

TEST_F(BrandMapTest, Version2FileMatchesTheLayoutBothWays) {
  ASSERT_TRUE(map_.Load(Put("in.bin", f_.bytes)));
  EXPECT_EQ(f_.records, RecordsOf(map_));
  map_.Clear();
  for (int i : {2, 0, 1}) ASSERT_TRUE(map_.Insert(f_.records[i]));  // written in code order
  ASSERT_TRUE(map_.Save(dir_.Sub("out.bin"), CDate(2024, 3, 15)));
  EXPECT_EQ(f_.bytes, ReadBytes(dir_.Sub("out.bin")));
  // Awkward texts and numbers, and the header's date when none is given,
  // are the fuzz target's part.
}

TEST_F(BrandMapTest, Version1FileHasFourByteCodes) {
  // A full code, a three-digit code padded with NUL and one with a blank.
  const Bytes v1 = kHeaderV1 + "7203" + Tail(1, "東証1部", "輸送用機器", "トヨタ", 100, 1, kOne) +
                   Bytes("130\0", 4) + kPlainTail + "131 " +
                   Tail(6, "東証", "", "REIT", 1, 0, kZero, kZero, kZero, kOne);
  ASSERT_TRUE(map_.Load(Put("v1.bin", v1)));
  EXPECT_EQ((Records{{"130", 1, "M", "I", "N", 1},
                     {"131", 6, "東証", "", "REIT", 1, 0, 0, 0, 0, 1.0},
                     {"7203", 1, "東証1部", "輸送用機器", "トヨタ", 100, 1, 1.0}}),
            RecordsOf(map_));

  // The version alone picks the form: just below 2.0 the code is "7203"
  // and the kind starts at its NUL; NaN is not below 2.0.
  const Bytes record = U32(0) + Text0("7203") + kPlainTail;
  ASSERT_TRUE(map_.Load(Put("a.bin", Bytes("\xFF\xFF\xFF\x3F", 4) + record)));
  ASSERT_EQ(1u, map_.Size());
  EXPECT_EQ(256, map_.Find("7203")->kind);
  ASSERT_TRUE(map_.Load(Put("b.bin", Bytes("\x00\x00\xC0\x7F", 4) + record)));
  EXPECT_EQ(1, map_.Find("7203")->kind);
}

// Long texts of any field load whole and the reading goes on; a later
// record with the same code wins; only a text that the end of the file cuts
// before its NUL drops its record.
TEST_F(BrandMapTest, OverlongTextsLoadWholeAndTheReadingGoesOn) {
  const std::string longName(5000, 'x'), code21(21, '2');
  const std::string market(1 << 20, 'M');
  const Bytes after = Text0("9999") + kPlainTail;
  ASSERT_TRUE(map_.Load(Put("long.bin", f_.bytes + Text0(code21) + kPlainTail +
                                            Text0("9") + Tail(1, market, "", longName, 1, 0) +
                                            after + Text0("7203") +
                                            Tail(1, "B", "", "new", 100, 1, kOne) + Text0("8") +
                                            U32(1) + "unended")));
  const Records expected = {f_.records[0], f_.records[1], {code21, 1, "M", "I", "N", 1},
                            {"7203", 1, "B", "", "new", 100, 1, 1.0},
                            {"9", 1, market, "", longName, 1},
                            {"9999", 1, "M", "I", "N", 1}};  // in code order
  EXPECT_EQ(expected, RecordsOf(map_));
}

// Insert, unlike the file, keeps to codes the database and paths can use.
// Every cut of a file, and saves that fail, are the fuzz target's part.
TEST_F(BrandMapTest, SaveRefusesWhatTheFileCannotCarry) {
  EXPECT_FALSE(map_.Insert({std::string(21, '1'), 1, "", "", ""}));
  EXPECT_FALSE(map_.Insert({std::string("72\0" "3", 4), 1, "", "", ""}));
  EXPECT_TRUE(map_.Empty());
  ASSERT_TRUE(map_.Insert({"7203", 1, "", "", std::string("a\0b", 3)}));
  EXPECT_FALSE(map_.Save(dir_.Sub("nul.bin")));
  EXPECT_FALSE(std::filesystem::exists(dir_.Sub("nul.bin")));
}

TEST_F(BrandMapTest, OrderReplaceEraseAndDump) {
  for (const char* code : {"9999", "\x82\x50", "1301", "13", "130A", "1001"}) {
    ASSERT_TRUE(map_.Insert({code, 1, "", "", ""}));
  }
  ASSERT_TRUE(map_.Insert({"13", 6, "X", "", ""}));
  std::vector<std::string> codes;
  for (const auto& [code, record] : map_) codes.push_back(code);
  EXPECT_EQ((std::vector<std::string>{"1001", "13", "1301", "130A", "9999", "\x82\x50"}), codes);
  EXPECT_EQ((CBrandRecord{"13", 6, "X", "", ""}), *map_.Find("13"));
  EXPECT_TRUE(map_.Erase("13"));
  EXPECT_FALSE(map_.Erase("13"));

  map_.Clear();
  ASSERT_TRUE(map_.Insert({"7203", 1, "東証プライム", "輸送用機器", "トヨタ", 100, 1, 1.5e9, 60, 300.25, -2.5}));
  ASSERT_TRUE(map_.Insert({"1001", 3, "", "", "日経平均", 1}));
  auto dump = [this](bool brief) {
    std::FILE* out = std::fopen(dir_.Sub("dump.txt").c_str(), "w");
    map_.Dump(brief, out);
    std::fclose(out);
    return Cp932FromUtf8(ReadBytes(dir_.Sub("dump.txt")));  // printed as UTF-8 for the terminal
  };
  EXPECT_EQ("[1001:3:日経平均::]\n[7203:1:トヨタ:東証プライム:輸送用機器]\n銘柄数=2\n",
            dump(true));
  EXPECT_NE(std::string::npos, dump(false).find(" 配当=60.000000\n 発行済=1500000000.000000\n"
                                                " EPS=300.250000\n BPS=-2.500000\n銘柄数=2\n"));
}

TEST(BrandMapOrderTest, MarketAndIndustryOrders) {
  using Names = std::vector<std::string>;
  auto sorted = [](Names names, void (*sort)(Names&)) { sort(names); return names; };
  EXPECT_EQ((Names{"東証グロース", "東証プライム", "マザーズ", "名証2部", "その他市場"}),
            sorted({"その他市場", "名証2部", "東証プライム", "マザーズ", "東証グロース"},
                   CBrandMap::SortMarkets));
  // 名 (0x96) ranks before 札 (0x8E) and 福 (0x95); names shorter than a
  // double-byte character and ASCII names rank last, by text.
  EXPECT_EQ((Names{"東", "名証", "札証", "福証", "", "JQ", "X"}),
            sorted({"JQ", "", "福証", "札証", "X", "名証", "東"}, CBrandMap::SortMarkets));
  EXPECT_EQ((Names{"電気機器", "化学", "", "業種なし", "業種なし"}),
            sorted({"業種なし", "化学", "", "電気機器", "業種なし"}, CBrandMap::SortIndustries));
  EXPECT_FALSE(CBrandMap::IndustryBefore("業種なし", "業種なし"));
}

}  // namespace
