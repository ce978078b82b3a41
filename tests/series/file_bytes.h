#ifndef TICKORA_TESTS_SERIES_FILE_BYTES_H_
#define TICKORA_TESTS_SERIES_FILE_BYTES_H_

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "series/series_table.h"
#include "tests/series/chart_test_util.h"

// Bytes of the binary files, put together field by field from the layout
// tables: little-endian integers, IEEE floats, zero-padded codes.
inline std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 8 ? value >> (8 * i) : 0);
  return out;
}
inline std::string LeF32(float v) { uint32_t b; std::memcpy(&b, &v, 4); return Le(b, 4); }
inline std::string LeF64(double v) { uint64_t b; std::memcpy(&b, &v, 8); return Le(b, 8); }
inline std::string Padded(const std::string& code, size_t width) {
  std::string out = code.substr(0, width);
  out.resize(width, '\0');
  return out;
}
inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
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
inline CMarginRecord Entry(uint32_t date, double buy, double sell) {
  return {CDate(date / 10000, date / 100 % 100, date % 100), buy, sell};
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

#endif  // TICKORA_TESTS_SERIES_FILE_BYTES_H_
