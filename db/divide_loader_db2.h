#ifndef TICKORA_DB_DIVIDE_LOADER_DB2_H_
#define TICKORA_DB_DIVIDE_LOADER_DB2_H_

#include <cstdint>
#include <string>

#include "series/series_store.h"

class CDBStock3;

// CDivideLoaderDB2 reads the splits of one issue from a stock database, in
// date order, for CDivide::Load. With an empty path it asks the
// process-wide database (CDBStock3::Instance(), which the caller has
// opened); otherwise it opens a private CDBStock3 on the path or
// connection string (see CDBControl::Connect) for the one Load and closes
// it again. Made with a database instead of a path, it reads that open
// database, which must outlive the loader. It keeps copies of the code and
// the path, or the database's address, and nothing else.
class CDivideLoaderDB2 : public CDivideLoader {
 public:
  // Load statuses.
  static constexpr int32_t kOk = 0;
  static constexpr int32_t kConnectFailed = -1;  // private database only
  static constexpr int32_t kQueryFailed = -2;

  CDivideLoaderDB2(std::string code, std::string path);
  CDivideLoaderDB2(std::string code, CDBStock3& database);
  ~CDivideLoaderDB2() override = default;

  // On success empties `divide` and appends one split a row. On failure
  // leaves `divide` as it was.
  [[nodiscard]] int32_t Load(CDivide& divide) override;

 private:
  std::string code_;
  std::string path_;
  CDBStock3* database_ = nullptr;
};

#endif  // TICKORA_DB_DIVIDE_LOADER_DB2_H_
