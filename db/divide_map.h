#ifndef TICKORA_DB_DIVIDE_MAP_H_
#define TICKORA_DB_DIVIDE_MAP_H_

#include <cstdio>
#include <map>
#include <string>

#include "db/brand_record.h"
#include "db/divide.h"
#include "db/divide_record.h"
#include "support/date.h"

// CDivideMap holds the split lists of many issues, keyed by issue code and
// ordered by code compared byte by byte as unsigned bytes (a prefix before
// the longer code). It is the in-memory form of the archive's split list
// file. It owns copies of the lists; pointers into it stay valid until
// their entry is removed or the map is cleared or loaded. No lock: one
// thread at a time. Copying copies every list.
//
// The split list file, all of it little-endian, is an 8-byte header
//   offset 0  4 bytes  32-bit IEEE float   format version (2.0 from Save)
//   offset 4  4 bytes  32-bit unsigned     date number of the day written
// followed by records up to the end of the file, one a split, with no count
// and no checksum. A version 2 record (version >= 2.0; NaN counts as 2.0) is
//   code   bytes and one NUL
//   date   4 bytes, 32-bit unsigned date number
//   ratio  4 bytes, 32-bit IEEE float
// A version 1 record (version below 2.0) has as its code 2 bytes, a 16-bit
// signed integer, which stands for its decimal text ("7203", "-5"); date
// and ratio follow as in version 2.
class CDivideMap {
 public:
  using Map = std::map<std::string, CDivide>;
  using const_iterator = Map::const_iterator;

  CDivideMap() = default;

  // Empties the map, then reads the split list file at `path` and appends
  // every whole record to the list of its code, which is made on first
  // use; afterwards every list is sorted by date. The date number is kept
  // exactly as stored, even when it is no real date; the ratio is widened
  // to a double. The file is read to its end; only the last record can be
  // dropped, one that the end of the file cuts. A code is taken whole,
  // however long (never longer than the file): one over kMaxCodeBytes
  // loads like any other and is refused where it is used (the file path
  // builders, CDBStock3). Returns false only when the file cannot be
  // opened or holds less than the 8-byte header; true also when it holds no
  // record.
  [[nodiscard]] bool Load(const std::string& path);

  // Writes every split of every code, codes in map order and splits in
  // list order, as a version 2 file dated today (or `written`); the ratio
  // is narrowed to a float. A code without splits writes nothing. Returns
  // false when the file cannot be made or a write does not complete (the
  // file is then incomplete).
  [[nodiscard]] bool Save(const std::string& path) const;
  [[nodiscard]] bool Save(const std::string& path, const CDate& written) const;

  // Prints "[<code>] Num=<splits>" for each code, " [<date number>]<ratio>"
  // for each of its splits, and last "銘柄数=<codes>", in the terminal's
  // charset. A diagnostic aid.
  void Dump(std::FILE* out = stdout) const;

  // Appends `split` to the list of `code`, making the list when it is new.
  // The list is not re-sorted. False, and nothing stored, for a code longer
  // than kMaxCodeBytes or holding a NUL byte, which the file cannot carry.
  [[nodiscard]] bool Add(const std::string& code, const CDivideRecord& split);

  // The list of `code`, or nullptr. The pointer lives as an iterator.
  const CDivide* Find(const std::string& code) const;

  [[nodiscard]] bool Erase(const std::string& code) { return lists_.erase(code) > 0; }
  void Clear() { lists_.clear(); }
  std::size_t Size() const { return lists_.size(); }
  [[nodiscard]] bool Empty() const { return lists_.empty(); }
  const_iterator begin() const { return lists_.begin(); }
  const_iterator end() const { return lists_.end(); }

 private:
  Map lists_;
};

#endif  // TICKORA_DB_DIVIDE_MAP_H_
