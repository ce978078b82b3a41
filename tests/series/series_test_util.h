#ifndef TICKORA_TESTS_SERIES_SERIES_TEST_UTIL_H_
#define TICKORA_TESTS_SERIES_SERIES_TEST_UTIL_H_

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "series/chart.h"
#include "series/series_table.h"
#include "support/cp932.h"
#include "tests/common/file_bytes.h"

inline CDayRecord Bar(uint32_t date, double open, double high, double low, double close,
                      double volume = 0.0) {
  CDayRecord bar;
  bar.SetDateNumber(date);
  bar.open = open, bar.high = high, bar.low = low, bar.close = close, bar.volume = volume;
  return bar;
}
inline CDayRecord Flat(uint32_t date, double close) { return Bar(date, close, close, close, close); }
// Flat bars on the given dates, closing at 1, 2, 3, ...
template <typename Chart = CChart>
Chart ChartOn(std::initializer_list<uint32_t> dates) {
  Chart chart;
  for (uint32_t date : dates) chart.push_back(Flat(date, chart.size() + 1.0));
  return chart;
}
using DateList = std::vector<uint32_t>;
inline DateList Dates(const CChart& chart) {
  DateList dates;
  for (const CDayRecord& bar : chart) dates.push_back(bar.DateNumber());
  return dates;
}
// A bar whose prices follow the day of the month, all exact in float32.
inline CDayRecord DayBar(uint32_t date) {
  const double d = date % 100;
  return Bar(date, d, d + 1, d - 1, d + 0.5, d * 1000);
}
inline CChart DayBars(const std::vector<uint32_t>& dates) {
  CChart chart;
  for (uint32_t date : dates) chart.push_back(DayBar(date));
  return chart;
}
// `count` trading days from `first` on.
inline DateList TradingDays(CDate first, int count) {
  DateList dates;
  for (int i = 0; i < count; ++i, first.NextBusinessDay()) dates.push_back(first.ToNumber());
  return dates;
}
inline CMarginRecord Entry(uint32_t date, double buy = 0, double sell = 0) {
  return {CDate(date / 10000, date / 100 % 100, date % 100), buy, sell};
}

inline std::string Padded(const std::string& code, size_t width) {
  return (code + std::string(width, '\0')).substr(0, width);
}
// The values of a record: a price one holds the date number and five
// float32, a margin one the date number and two float64 (float32 in the
// quick file).
inline std::string PriceValues(const CDayRecord& b) {
  return Le(b.DateNumber(), 4) + LeF32(b.open) + LeF32(b.high) + LeF32(b.low) + LeF32(b.close) +
         LeF32(b.volume);
}
inline std::string MarginValues(const CMarginRecord& e, bool f32 = false) {
  return Le(e.date.ToNumber(), 4) +
         (f32 ? LeF32(e.buy) + LeF32(e.sell) : LeF64(e.buy) + LeF64(e.sell));
}
// What a series' Dump prints (UTF-8 in the tests' locale), back in CP932.
template <typename Series>
std::string Printed(const Series& series) {
  std::FILE* out = std::tmpfile();
  series.Dump(out);
  std::rewind(out);
  std::string printed(512, '\0');
  printed.resize(std::fread(printed.data(), 1, printed.size(), out));
  std::fclose(out);
  return Cp932FromUtf8(printed);
}

// While it lives, no file of the process can grow beyond `bytes`: a write
// past the limit fails (EFBIG) instead of raising SIGXFSZ. Keep gtest's
// output out of its life: assert after it is gone.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
    std::fflush(nullptr);
    getrlimit(RLIMIT_FSIZE, &old_);
    const rlimit limit{bytes, old_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); std::signal(SIGXFSZ, handler_); }

 private:
  void (*handler_)(int);
  rlimit old_{};
};

#endif  // TICKORA_TESTS_SERIES_SERIES_TEST_UTIL_H_
