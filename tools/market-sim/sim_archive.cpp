#include "tools/market-sim/sim_archive.h"

#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "db/brand_map.h"
#include "db/divide_map.h"
#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"

namespace {

struct Form {
  const char* prefix;
  CSimArchive::Kind kind;
};

const Form kForms[] = {
    {"brand-", CSimArchive::Kind::kBrand},
    {"divide-", CSimArchive::Kind::kDivide},
    {"priceyear-", CSimArchive::Kind::kPriceYear},
    {"pricelast-", CSimArchive::Kind::kPriceLast},
    {"price-", CSimArchive::Kind::kPrice},
    {"marginyear-", CSimArchive::Kind::kMarginYear},
    {"margin-", CSimArchive::Kind::kMargin},
};

bool IsYearKind(CSimArchive::Kind kind) {
  return kind == CSimArchive::Kind::kPrice || kind == CSimArchive::Kind::kMargin;
}

// A real calendar date from a date number.
bool RealDate(uint32_t number, CDate& date) {
  if (!date.FromNumber(number)) return false;
  return date.day <= CDate::DaysInMonth(date.month, date.year);
}

bool ReadWhole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return false;
  out = bytes.str();
  return true;
}

}  // namespace

CSimArchive::CSimArchive(const CSimMarket& market) : market_(market) {
  static std::atomic<int> counter{0};
  folder_ = (std::filesystem::temp_directory_path() /
             ("tickora-market-sim-" + std::to_string(getpid()) + "-" +
              std::to_string(counter++)))
                .string();
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
}

CSimArchive::~CSimArchive() {
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

bool CSimArchive::ParseName(const std::string& name, FileName& out) {
  for (const Form& form : kForms) {
    const std::string prefix = form.prefix;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string suffix = ".bin";
    if (name.size() <= prefix.size() + suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      return false;
    }
    const std::string digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const size_t wanted = IsYearKind(form.kind) ? 4 : 8;
    if (digits.size() != wanted || digits[0] == '0') return false;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
    }
    out.kind = form.kind;
    out.number = static_cast<uint32_t>(std::stoul(digits));
    return true;
  }
  return false;
}

bool CSimArchive::Serves(const FileName& name) const {
  if (IsYearKind(name.kind)) return name.number < market_.Today().year;
  CDate date;
  if (!RealDate(name.number, date)) return false;
  if (market_.Today() < date || date < market_.FirstDate()) return false;
  const int w = date.Weekday();
  switch (name.kind) {
    case Kind::kBrand:
    case Kind::kDivide:
      return w == 6;
    case Kind::kPriceYear:
    case Kind::kPriceLast:
      return w >= 1 && w <= 5;
    case Kind::kMarginYear:
      return w == 3;
    default:
      return false;
  }
}

bool CSimArchive::WriteFile(const FileName& name, const std::string& path) const {
  if (!Serves(name)) return false;
  CArchiveFileHeader header;
  CDate date;
  uint32_t from = 0, to = 0;
  if (IsYearKind(name.kind)) {
    date = CDate(name.number, 12, 31);
    from = name.number * 10000 + 101;
    to = name.number * 10000 + 1231;
  } else {
    (void)date.FromNumber(name.number);  // a day of the calendar
    from = date.year * 10000 + 101;
    to = name.number;
  }
  header.madeDate = date.ToNumber();
  switch (name.kind) {
    case Kind::kBrand: {
      CBrandMap brands;
      market_.BrandsOn(date, brands);
      return brands.Save(path, date);
    }
    case Kind::kDivide: {
      CDivideMap splits;
      market_.SplitsUpTo(date, splits);
      return splits.Save(path, date);
    }
    case Kind::kPrice:
    case Kind::kPriceYear: {
      CChartTable table;
      market_.TradedBars(from, to, table);
      return WriteArchivePriceFile(path.c_str(), table, from, to, header);
    }
    case Kind::kPriceLast: {
      CChartTable table;
      market_.LatestBars(date, table);
      return WriteArchivePriceFile(path.c_str(), table, 0, name.number, header);
    }
    case Kind::kMargin:
    case Kind::kMarginYear: {
      CMarginTable table;
      market_.ReportedMargins(from, to, table);
      return WriteArchiveMarginFile(path.c_str(), table, from, to, header);
    }
  }
  return false;
}

int CSimArchive::Fetch(const std::string& name, std::shared_ptr<const std::string>& gzip) {
  FileName parsed;
  if (!ParseName(name, parsed) || !Serves(parsed)) return 404;
  {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    const auto it = cache_.find(name);
    if (it != cache_.end()) {
      gzip = it->second;
      return 200;
    }
  }
  std::lock_guard<std::mutex> build(buildMutex_);
  {
    // Another thread may have made it while this one waited.
    std::lock_guard<std::mutex> lock(cacheMutex_);
    const auto it = cache_.find(name);
    if (it != cache_.end()) {
      gzip = it->second;
      return 200;
    }
  }
  const std::string path = folder_ + "/" + name;
  std::string bytes;
  auto made = std::make_shared<std::string>();
  const bool ok = WriteFile(parsed, path) && ReadWhole(path, bytes) && Gzip(bytes, *made);
  std::error_code ec;
  std::filesystem::remove(path, ec);
  if (!ok) return 500;
  std::lock_guard<std::mutex> lock(cacheMutex_);
  cache_[name] = made;
  gzip = made;
  return 200;
}

bool CSimArchive::Gzip(const std::string& data, std::string& out) {
  z_stream z{};
  // 15 window bits plus 16: a gzip header and trailer around the data.
  // The fastest level: a price year (27 MB of mostly float values) packs
  // about as small as at the default level, in a fifth of the time.
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    return false;
  }
  out.resize(deflateBound(&z, data.size()) + 32);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  const size_t written = out.size() - z.avail_out;
  deflateEnd(&z);
  if (result != Z_STREAM_END) return false;
  out.resize(written);
  return true;
}
