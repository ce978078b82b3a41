#ifndef TICKORA_SERIES_MARGIN_FILE_H_
#define TICKORA_SERIES_MARGIN_FILE_H_

#include <cstdint>
#include <string>

#include "series/series_store.h"

class CMargin;

// The margin file holds the weekly margin balances of one issue as
// "<folder>/mg<code>.dat" (the path comes from BuildMarginFilePath, which
// refuses unsafe codes; with an empty code the folder argument is the whole
// path). It has no header: one 20-byte record an entry, in
// ascending date order, to the end of the file. Every field is
// little-endian, the balances at full float64 precision:
//
//   offset 0   uint32   date number (year * 10000 + month * 100 + day)
//   offset 4   float64  buy balance (買残)
//   offset 12  float64  sell balance (売残)
//
// Both objects are made on the heap and handed to CMargin::Load or
// CMargin::Save, which call them once and destroy them. The file is closed
// on every path before the call returns.

// CMarginLoaderFile reads a margin file into the (already emptied) series,
// entry by entry as stored; nothing is removed. With `last` above 0 it
// reads only the last `last` whole records (and whatever part of one
// follows them), or the whole file when it holds no more; with 0 or less
// the whole file. A
// failure leaves the entries read so far.
class CMarginLoaderFile : public CMarginLoader {
 public:
  enum : int32_t {
    kOk = 0,           // read to the end of the file
    kCannotOpen = -1,  // no such file, a folder, or the code was refused
    kCut = -2,         // a record is incomplete, or a read failed
    kCannotSeek = -3,  // moving within the file or taking its size failed
  };

  CMarginLoaderFile(const char* folder, std::string code, int32_t last);
  ~CMarginLoaderFile() override = default;

  [[nodiscard]] int32_t Load(CMargin& margin) override;

 private:
  std::string folder_;
  std::string code_;
  int32_t last_;
};

// CMarginSaverFile writes the whole series to its margin file, replacing
// what was there; an empty series leaves an empty file. The file is written
// under a temporary name and renamed into place (see
// support/replace_file.h): a save that fails or is killed leaves the old
// file as it was, and a failed one no temporary file.
class CMarginSaverFile : public CMarginSaver {
 public:
  enum : int32_t {
    kOk = 0,             // written
    kCannotOpen = -1,    // cannot be opened, or the code was refused
    kCannotWrite = -2,   // the records could not all be written
  };

  CMarginSaverFile(const char* folder, std::string code);
  ~CMarginSaverFile() override = default;

  [[nodiscard]] int32_t Save(const CMargin& margin) override;

 private:
  std::string folder_;
  std::string code_;
};

#endif  // TICKORA_SERIES_MARGIN_FILE_H_
