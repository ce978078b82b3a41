#ifndef TICKORA_TESTS_SERIES_CHART_TEST_UTIL_H_
#define TICKORA_TESTS_SERIES_CHART_TEST_UTIL_H_

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "series/chart.h"

inline CDayRecord Bar(uint32_t date, double open, double high, double low,
                      double close, double volume = 0.0) {
  CDayRecord bar;
  bar.SetDateNumber(date);
  bar.open = open;
  bar.high = high;
  bar.low = low;
  bar.close = close;
  bar.volume = volume;
  return bar;
}

inline CDayRecord Flat(uint32_t date, double close) {
  return Bar(date, close, close, close, close);
}

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

#endif  // TICKORA_TESTS_SERIES_CHART_TEST_UTIL_H_
