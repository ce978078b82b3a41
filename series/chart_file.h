#ifndef TICKORA_SERIES_CHART_FILE_H_
#define TICKORA_SERIES_CHART_FILE_H_

#include <cstdint>
#include <string>

#include "series/series_store.h"

class CChart;

// The chart file holds the daily bars of one issue as "<folder>/<code>.dat"
// (the path comes from BuildChartFilePath, which refuses unsafe codes; with
// an empty code the folder argument is the whole path). It
// has no header: one 24-byte record a bar, in ascending date order, to the
// end of the file. Every field is little-endian:
//
//   offset 0   uint32   date number (year * 10000 + month * 100 + day)
//   offset 4   float32  open
//   offset 8   float32  high
//   offset 12  float32  low
//   offset 16  float32  close
//   offset 20  float32  volume
//
// The raw close is not stored: a bar read back gets raw close equal to
// close. Values are narrowed to float32 on writing, so a value float32
// cannot hold comes back as the nearest float32.
//
// Both objects are made on the heap and handed to CChart::Load or
// CChart::Save, which call them once and destroy them. The file is closed
// on every path before the call returns.

// CChartLoaderFile reads a chart file into the (already emptied) series.
// With `last` above 0 it reads only the last `last` whole records (and
// whatever part of one follows them), or the whole file when it holds no
// more; with 0 or less the whole file. After reading to the end it removes the leading bars
// that have a zero price. A failure leaves the bars read so far, untrimmed.
class CChartLoaderFile : public CChartLoader {
 public:
  enum : int32_t {
    kOk = 0,           // read to the end of the file
    kCannotOpen = -1,  // no such file, a folder, or the code was refused
    kCut = -2,         // a record is incomplete, or a read failed
    kCannotSeek = -3,  // moving within the file or taking its size failed
  };

  CChartLoaderFile(const char* folder, std::string code, int32_t last);
  ~CChartLoaderFile() override = default;

  [[nodiscard]] int32_t Load(CChart& chart) override;

 private:
  std::string folder_;
  std::string code_;
  int32_t last_;
};

// CChartSaverFile writes a series to its chart file. It first removes the
// series' leading bars that have a zero price (the caller's series loses
// them too). Without `append` it rewrites the whole file. With `append` it
// adds only the bars dated after the file's last record; a file shorter
// than one record gets the whole series added after whatever it holds.
// Either way the file is written whole under a temporary name and renamed
// into place (see support/replace_file.h): a save that fails or is killed
// leaves the old file as it was, and a failed one no temporary file.
class CChartSaverFile : public CChartSaver {
 public:
  enum : int32_t {
    kOk = 0,               // written, or nothing newer to append
    kCannotOpen = -1,      // cannot be opened, or the code was refused
    kCannotWrite = -2,     // the records could not all be written
    kCannotReadLast = -3,  // appending: the old file cannot be read
    kCannotSeekEnd = -4,   // no longer given: appends are written anew
  };

  CChartSaverFile(const char* folder, std::string code, bool append);
  ~CChartSaverFile() override = default;

  [[nodiscard]] int32_t Save(CChart& chart) override;

 private:
  std::string folder_;
  std::string code_;
  bool append_;
};

#endif  // TICKORA_SERIES_CHART_FILE_H_
