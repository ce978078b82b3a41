#ifndef TICKORA_DB_BRAND_MAP_H_
#define TICKORA_DB_BRAND_MAP_H_

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "db/brand_record.h"
#include "support/date.h"

// CBrandMap is a set of issue records keyed by issue code, ordered by code
// compared byte by byte as unsigned bytes (a shorter code that is a prefix
// of a longer one comes first). It owns copies of its records; pointers and
// iterators into it stay valid until their record is removed or the map is
// cleared or loaded (replacing a record changes what they show). It has no
// lock: use it from one thread at a time. Copying copies every record.
//
// It reads and writes the archive's issue list file. That file, all of it
// little-endian, is an 8-byte header
//   offset 0  4 bytes  32-bit IEEE float   format version (2.0 from Save)
//   offset 4  4 bytes  32-bit unsigned     date number of the day written
// followed by records up to the end of the file, with no count and no
// checksum. A version 2 record (version >= 2.0) is
//   code      bytes and one NUL
//   kind      4 bytes, signed
//   market, industry, name   bytes and one NUL each
//   unit, lendable           4 bytes each, unsigned
//   sharesOutstanding, dividend, eps, bps   8 bytes each, IEEE double
// A version 1 record (version below 2.0, NaN counts as 2.0) differs only in
// its code: exactly 4 bytes, no NUL.
class CBrandMap {
 public:
  using Map = std::map<std::string, CBrandRecord>;
  using const_iterator = Map::const_iterator;

  CBrandMap() = default;

  // Empties the map, then reads the issue list file at `path` to its end
  // and inserts every whole record, a later record replacing an earlier one
  // with the same code. Texts are taken whole, however long (never longer
  // than the file): a code over kMaxCodeBytes, or a name longer than the
  // database column, loads like any other and is refused where it is used
  // (the file path builders, CDBStock3). Only the last record can be
  // dropped: one that the end of the file cuts. Returns false only when the
  // file cannot be opened or holds less than the 8-byte header; true also
  // when it holds no record.
  [[nodiscard]] bool Load(const std::string& path);

  // Writes every record in code order as a version 2 file dated today (or
  // `written`). Before the file is touched, returns false when a text of a
  // record holds a NUL byte, which the file cannot carry. Returns false on
  // the first write that does not complete; the file is then incomplete.
  [[nodiscard]] bool Save(const std::string& path) const;
  [[nodiscard]] bool Save(const std::string& path, const CDate& written) const;

  // Prints every record in code order, then "銘柄数=<count>", converted for
  // the terminal. Brief prints one line a record; otherwise the line is
  // followed by the lendable status, unit, dividend, shares outstanding,
  // EPS and BPS, one a line.
  void Dump(bool brief, std::FILE* out = stdout) const;

  // Stores a copy of `record` under its code, replacing any record with the
  // same code whole. Returns false and stores nothing when the code is
  // longer than kMaxCodeBytes or holds a NUL byte.
  [[nodiscard]] bool Insert(const CBrandRecord& record);

  // The record with `code`, or nullptr. The pointer lives as an iterator.
  const CBrandRecord* Find(const std::string& code) const;

  // Removes the record with `code`; false when there was none.
  [[nodiscard]] bool Erase(const std::string& code);

  void Clear() { records_.clear(); }
  std::size_t Size() const { return records_.size(); }
  [[nodiscard]] bool Empty() const { return records_.empty(); }
  const_iterator begin() const { return records_.begin(); }
  const_iterator end() const { return records_.end(); }

  // The order in which market names are listed: by the rank of the first
  // double-byte character ("東" 1, "マ" 2, "名" 3, "札" 4, "福" 5, any
  // other, or a name shorter than two bytes, 10), equal ranks by byte-wise
  // text.
  [[nodiscard]] static bool MarketBefore(const std::string& a, const std::string& b);
  static void SortMarkets(std::vector<std::string>& markets);

  // The order in which industry names are listed: descending byte-wise
  // text, except that "業種なし" comes after every other industry.
  [[nodiscard]] static bool IndustryBefore(const std::string& a, const std::string& b);
  static void SortIndustries(std::vector<std::string>& industries);

 private:
  Map records_;
};

#endif  // TICKORA_DB_BRAND_MAP_H_
