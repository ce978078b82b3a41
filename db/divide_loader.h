#ifndef TICKORA_DB_DIVIDE_LOADER_H_
#define TICKORA_DB_DIVIDE_LOADER_H_

#include <cstdint>

class CDivide;

// CDivideLoader is the strategy through which CDivide::Load fills the split
// list of one issue from some store (the stock database, for instance). The
// list hands itself, already emptied, to Load once and then destroys the
// loader. Load appends splits in ascending date order and returns a status:
// 0 or more is success, a negative value a failure whose meaning the
// concrete loader defines.
class CDivideLoader {
 public:
  CDivideLoader() = default;
  CDivideLoader(const CDivideLoader&) = delete;
  CDivideLoader& operator=(const CDivideLoader&) = delete;
  virtual ~CDivideLoader() = default;

  virtual int32_t Load(CDivide& divide) = 0;
};

#endif  // TICKORA_DB_DIVIDE_LOADER_H_
