#ifndef TICKORA_SERIES_MARGIN_LOADER_H_
#define TICKORA_SERIES_MARGIN_LOADER_H_

#include <cstdint>

class CMargin;

// CMarginLoader is the strategy through which CMargin::Load fills a margin
// series from some store (the margin file, for instance). The series hands
// itself, already emptied, to Load once and then destroys the loader. Load
// appends entries in ascending date order and returns a status: 0 or more
// is success, a negative value a failure whose meaning the concrete loader
// defines. A loader that fails may leave the entries read so far.
class CMarginLoader {
 public:
  CMarginLoader() = default;
  CMarginLoader(const CMarginLoader&) = delete;
  CMarginLoader& operator=(const CMarginLoader&) = delete;
  virtual ~CMarginLoader() = default;

  virtual int32_t Load(CMargin& margin) = 0;
};

#endif  // TICKORA_SERIES_MARGIN_LOADER_H_
