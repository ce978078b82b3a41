#ifndef TICKORA_SERIES_WEEK_CHART_H_
#define TICKORA_SERIES_WEEK_CHART_H_

#include <cstdint>
#include <string>

#include "series/chart.h"

// CWeekChart is a price series with one bar a week, Sunday to Saturday,
// usually made from a daily series by CChart::ToWeekChart. A bar is dated
// on the first trading day of its week that had a bar. It adds no data;
// searching and stepping work by weeks (see CChart).
class CWeekChart : public CChart {
 public:
  CWeekChart() = default;

  [[nodiscard]] bool Find(uint32_t date, int32_t& index, int32_t mode) const override;
  CDate NextDate(uint32_t date) const override;
  CDate PrevDate(uint32_t date) const override;
  std::string UnitName() const override;
};

#endif  // TICKORA_SERIES_WEEK_CHART_H_
