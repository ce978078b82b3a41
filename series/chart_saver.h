#ifndef TICKORA_SERIES_CHART_SAVER_H_
#define TICKORA_SERIES_CHART_SAVER_H_

#include <cstdint>

class CChart;

// CChartSaver is the strategy through which CChart::Save writes a series to
// some store (the chart file, for instance). The series hands itself to
// Save once and then destroys the saver. The series is passed for change
// because a saver may tidy it before writing (the chart file saver drops
// leading bars with a zero price, and the caller's series loses them too).
// Save returns a status: 0 or more is success, a negative value a failure
// whose meaning the concrete saver defines.
class CChartSaver {
 public:
  CChartSaver() = default;
  CChartSaver(const CChartSaver&) = delete;
  CChartSaver& operator=(const CChartSaver&) = delete;
  virtual ~CChartSaver() = default;

  virtual int32_t Save(CChart& chart) = 0;
};

#endif  // TICKORA_SERIES_CHART_SAVER_H_
