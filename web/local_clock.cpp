#include "web/local_clock.h"

#include <ctime>

CLocalTime SystemLocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  CLocalTime result;
  if (localtime_r(&now, &local) == nullptr) return result;
  result.date = CDate(static_cast<uint32_t>(local.tm_year + 1900),
                      static_cast<uint32_t>(local.tm_mon + 1),
                      static_cast<uint32_t>(local.tm_mday));
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  return result;
}
