#ifndef TICKORA_SERIES_SERIES_STORE_H_
#define TICKORA_SERIES_SERIES_STORE_H_

#include <cstdint>

// The strategies through which a series (a chart, a margin series, a split
// list) is read from and written to some store: the chart file, the margin
// file, the stock database.
//
// The series hands itself to Load, already emptied, or to Save, once, and
// then destroys the loader or saver. Load appends in ascending date order;
// a loader that fails may leave what it read so far in the series. Save
// receives the series as `Series&`: a saver of a const series leaves it as
// it is, the chart file saver tidies its chart before writing (it drops
// leading bars with a zero price, and the caller's chart loses them too).
// Both return a status: 0 or more is success, a negative value a failure
// whose meaning the concrete loader or saver defines.

template <class Series>
class CSeriesLoader {
 public:
  CSeriesLoader() = default;
  CSeriesLoader(const CSeriesLoader&) = delete;
  CSeriesLoader& operator=(const CSeriesLoader&) = delete;
  virtual ~CSeriesLoader() = default;

  [[nodiscard]] virtual int32_t Load(Series& series) = 0;
};

template <class Series>
class CSeriesSaver {
 public:
  CSeriesSaver() = default;
  CSeriesSaver(const CSeriesSaver&) = delete;
  CSeriesSaver& operator=(const CSeriesSaver&) = delete;
  virtual ~CSeriesSaver() = default;

  [[nodiscard]] virtual int32_t Save(Series& series) = 0;
};

class CChart;
class CMargin;
class CDivide;
using CChartLoader = CSeriesLoader<CChart>;
using CChartSaver = CSeriesSaver<CChart>;
using CMarginLoader = CSeriesLoader<CMargin>;
using CMarginSaver = CSeriesSaver<const CMargin>;
using CDivideLoader = CSeriesLoader<CDivide>;

#endif  // TICKORA_SERIES_SERIES_STORE_H_
