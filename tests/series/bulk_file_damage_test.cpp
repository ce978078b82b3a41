// The quick and archive file readers on damaged input: files cut after
// every byte, and random bytes behind a valid or an absurd header.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"
#include "series/quick_margin_file.h"
#include "series/quick_price_file.h"
#include "tests/common/temp_dir.h"
#include "tests/series/file_bytes.h"

namespace {

// What a reader gave: every series by code, as (date, close or buy).
using Summary = std::map<std::string, std::vector<std::pair<uint32_t, double>>>;
Summary Of(const CChartTable& table) {
  Summary out;
  for (const auto& [code, series] : table) {
    for (const CDayRecord& bar : series) out[code].emplace_back(bar.DateNumber(), bar.close);
    out[code];
  }
  return out;
}
Summary Of(const CMarginTable& table) {
  Summary out;
  for (const auto& [code, series] : table) {
    for (const CMarginRecord& e : series) out[code].emplace_back(e.date.ToNumber(), e.buy);
    out[code];
  }
  return out;
}
template <typename Table, auto Reader>
bool ReadAs(const std::string& path, Summary& out) {
  Table table;
  const bool ok = Reader(path.c_str(), table, nullptr);
  out = Of(table);
  return ok;
}

// A sample file, and where each directory entry (no date) and record ends.
struct Piece { size_t end; std::string code; uint32_t date; double value; };
struct Sample {
  std::string bytes;
  std::vector<Piece> pieces;
  void Add(const std::string& part, const std::string& code, uint32_t date = 0, double value = 0) {
    pieces.push_back({(bytes += part).size(), code, date, value});
  }
};
std::string Repeated(const std::string& field, int times) {
  return times > 0 ? field + Repeated(field, times - 1) : "";
}
// Prices hold the value in all five fields, margin balances in both.
Sample Quick(const char* magic, int fields) {
  Sample s{std::string(magic, 4) + Le(1, 4) + Le(20240104, 4) + Le(20240105, 4) + Le(3, 4), {}};
  for (const char* code : {"1301", "1332", "9999"}) s.Add(Padded(code, 8), code);
  for (const char* code : {"1301", "1332"}) {
    for (uint32_t date : {20240104u, 20240105u}) {
      const float value = static_cast<float>(date % 100 + code[3]);
      s.Add(Padded(code, 8) + Le(date, 4) + Repeated(LeF32(value), fields), code, date, value);
    }
  }
  return s;
}
Sample Archive(float version, bool price) {
  Sample s{LeF32(version) + Le(20240110, 4), {}};
  uint32_t date = 20240104;
  for (const char* code : {"7203", "1301", "7203", "65535"}) {
    const std::string part = version < 2.0f ? Le(std::stoul(code), 2) : std::string(code) + '\0';
    const double value = 1000 + date % 100;
    s.Add(part + Le(date, 4) + (price ? Repeated(LeF32(value), 5) : Repeated(LeF64(value), 2)),
          code, date, value);
    ++date;
  }
  return s;
}

struct Format {
  const char* name;
  size_t headerBytes, shortestRecord;
  Sample sample;
  bool (*read)(const std::string& path, Summary& out);
};
const Format kFormats[] = {
    {"quick price", 20, 32, Quick("QDB2", 5), ReadAs<CChartTable, ReadQuickPriceFile>},
    {"quick margin", 20, 20, Quick("QMD2", 2), ReadAs<CMarginTable, ReadQuickMarginFile>},
    {"archive price v2", 8, 25, Archive(2.0f, true), ReadAs<CChartTable, ReadArchivePriceFile>},
    {"archive price v1", 8, 26, Archive(1.0f, true), ReadAs<CChartTable, ReadArchivePriceFile>},
    {"archive margin v2", 8, 21, Archive(2.0f, false), ReadAs<CMarginTable, ReadArchiveMarginFile>},
    {"archive margin v1", 8, 22, Archive(1.0f, false), ReadAs<CMarginTable, ReadArchiveMarginFile>},
};

}  // namespace

// No file, a folder, or less than a header: false. Cut anywhere after the
// header: every directory entry and record that is whole, nothing more.
// Random bytes alone, after a valid header, or after a quick header that
// claims 2^32 - 1 issues: only what the bytes hold, allocated by them (a
// count taken on trust would not fit in memory).
TEST(BulkFileDamageTest, ReadersTakeOnlyWhatIsWhole) {
  uint32_t seed = 12345;
  for (const Format& f : kFormats) {
    TempDir dir;
    Summary out;
    EXPECT_FALSE(f.read(dir.Sub("none"), out)) << f.name;
    EXPECT_FALSE(f.read(dir.path().string(), out)) << f.name;
    // A new file each time: rewriting one in place makes the file system
    // flush it on every close.
    for (size_t n = 0; n <= f.sample.bytes.size(); ++n) {
      const std::string path = dir.Sub("cut" + std::to_string(n));
      WriteBytes(path, f.sample.bytes.substr(0, n));
      Summary expected;
      for (const Piece& p : f.sample.pieces) {
        if (p.end > n) break;
        auto& list = expected[p.code];
        if (p.date != 0) list.emplace_back(p.date, p.value);
      }
      EXPECT_EQ(n >= f.headerBytes, f.read(path, out)) << f.name << " " << n;
      EXPECT_EQ(n >= f.headerBytes ? expected : Summary(), out) << f.name << " " << n;
    }
    for (int round = 0; round < 60; ++round) {
      std::string bytes(round * 97 % 3000, '\0');
      for (char& c : bytes) {  // every other round small bytes, so that codes end
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>((seed >> 24) % (round % 2 ? 256 : 8));
      }
      if (round % 3 != 0) bytes = f.sample.bytes.substr(0, f.headerBytes) + bytes;
      if (round % 3 == 2 && f.headerBytes == 20) bytes.replace(16, 4, Le(0xFFFFFFFF, 4));
      const std::string path = dir.Sub("random" + std::to_string(round));
      WriteBytes(path, bytes);
      // Random bytes make no quick file's magic.
      const bool whole = round % 3 != 0 || (f.headerBytes == 8 && bytes.size() >= 8);
      EXPECT_EQ(whole, f.read(path, out)) << f.name << " " << round;
      size_t records = 0;
      for (const auto& [code, list] : out) records += list.size();
      EXPECT_LE(records * f.shortestRecord + f.headerBytes, std::max(bytes.size(), f.headerBytes))
          << f.name << " " << round;
      EXPECT_LE(out.size(), bytes.size()) << f.name << " " << round;
    }
  }
}
