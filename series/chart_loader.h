#ifndef TICKORA_SERIES_CHART_LOADER_H_
#define TICKORA_SERIES_CHART_LOADER_H_

#include <cstdint>

class CChart;

// CChartLoader is the strategy through which CChart::Load fills a series
// from some store (the chart file, for instance). The series hands itself,
// already emptied, to Load once and then destroys the loader. Load appends
// bars in ascending date order and returns a status: 0 or more is success,
// a negative value a failure whose meaning the concrete loader defines. A
// loader that fails may leave the bars read so far in the series.
class CChartLoader {
 public:
  CChartLoader() = default;
  CChartLoader(const CChartLoader&) = delete;
  CChartLoader& operator=(const CChartLoader&) = delete;
  virtual ~CChartLoader() = default;

  virtual int32_t Load(CChart& chart) = 0;
};

#endif  // TICKORA_SERIES_CHART_LOADER_H_
