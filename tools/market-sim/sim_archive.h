#ifndef TICKORA_TOOLS_MARKET_SIM_SIM_ARCHIVE_H_
#define TICKORA_TOOLS_MARKET_SIM_SIM_ARCHIVE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tools/market-sim/sim_market.h"

// CSimArchive publishes a simulated market as the archive server's files,
// under kPathPrefix:
//
//   brand-D.bin       the issue list as of D, a Saturday
//   divide-D.bin      the splits dated on or before D, a Saturday
//   price-Y.bin       the bars of a past year Y (four digits)
//   priceyear-D.bin   the bars of D's year up to D, a Monday to Friday
//   pricelast-D.bin   the last bar on or before D of every issue listed on
//                     D, a Monday to Friday
//   margin-Y.bin      the margin balances of a past year Y
//   marginyear-D.bin  the balances of D's year up to D, a Wednesday
//
// D is a date number (20240315) without leading zeros. A name of any other
// form, a date that is not a real date or falls on the wrong weekday, a
// date after the market's today, a year that is not past (the current year
// comes as priceyear and marginyear) or a dated file before the market's
// first date is not served. A past year before the market's first year is
// served as a file without records: the market had no trading then.
//
// Files are written with the system's own writers (issue and split lists,
// archive price and margin files) into a private temporary folder, read
// back, gzip-compressed and kept: each file is made once, on its first
// request, and then served from memory for the life of the archive. Prices
// are as traded and balances as reported (the series `raw` and `margin` of
// the market), the values that the history and margin pages show; the
// price files narrow them to float32. A dated file carries
// its date as the day it was made, a year file the last day of its year.
//
// All operations may be called from any number of threads at once; files
// are made one at a time. Not copyable.
class CSimArchive {
 public:
  static constexpr const char* kPathPrefix = "/market/archive/v2/";

  enum class Kind {
    kBrand,
    kDivide,
    kPrice,
    kPriceYear,
    kPriceLast,
    kMargin,
    kMarginYear,
  };

  // A file name taken apart: its kind and the number in it.
  struct FileName {
    Kind kind = Kind::kBrand;
    uint32_t number = 0;
  };

  explicit CSimArchive(const CSimMarket& market);
  ~CSimArchive();
  CSimArchive(const CSimArchive&) = delete;
  CSimArchive& operator=(const CSimArchive&) = delete;

  // Takes apart a file name such as "price-2020.bin" by its form alone
  // (kind, digits, ".bin"); false for any other text.
  static bool ParseName(const std::string& name, FileName& out);

  // True when the archive serves the file (see above).
  bool Serves(const FileName& name) const;

  // The gzip-compressed bytes of the file `name` (the part of the path
  // after kPathPrefix). Returns 200 with `gzip` set; 404 when the file is
  // not served; 500 when it could not be made (a write or read failed).
  int Fetch(const std::string& name, std::shared_ptr<const std::string>& gzip);

  // Writes the file, uncompressed, to `path`. False when it is not served
  // or a write fails.
  bool WriteFile(const FileName& name, const std::string& path) const;

  // Compresses `data` into one gzip member; false on a zlib failure.
  static bool Gzip(const std::string& data, std::string& out);

 private:
  const CSimMarket& market_;
  std::string folder_;  // private temporary folder, removed at the end
  std::mutex cacheMutex_;
  std::map<std::string, std::shared_ptr<const std::string>> cache_;
  std::mutex buildMutex_;  // one file is made at a time
};

#endif  // TICKORA_TOOLS_MARKET_SIM_SIM_ARCHIVE_H_
