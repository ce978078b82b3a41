#ifndef TICKORA_SERIES_MARGIN_SAVER_H_
#define TICKORA_SERIES_MARGIN_SAVER_H_

#include <cstdint>

class CMargin;

// CMarginSaver is the strategy through which CMargin::Save writes a margin
// series to some store (the margin file, for instance). The series hands
// itself to Save once and then destroys the saver; the series is not
// changed. Save returns a status: 0 or more is success, a negative value a
// failure whose meaning the concrete saver defines.
class CMarginSaver {
 public:
  CMarginSaver() = default;
  CMarginSaver(const CMarginSaver&) = delete;
  CMarginSaver& operator=(const CMarginSaver&) = delete;
  virtual ~CMarginSaver() = default;

  virtual int32_t Save(const CMargin& margin) = 0;
};

#endif  // TICKORA_SERIES_MARGIN_SAVER_H_
