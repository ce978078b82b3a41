#include "db/divide_loader_db2.h"

#include <utility>
#include <vector>

#include "db/db_stock3.h"
#include "db/divide.h"

namespace {

int32_t LoadFrom(CDBStock3& db, const std::string& code, CDivide& divide) {
  std::vector<CDBStock3::CodeDivide> rows;
  if (!db.GetDivides(code, rows)) return CDivideLoaderDB2::kQueryFailed;
  divide.clear();
  divide.reserve(rows.size());
  for (const auto& row : rows) divide.push_back(row.second);
  return CDivideLoaderDB2::kOk;
}

}  // namespace

CDivideLoaderDB2::CDivideLoaderDB2(std::string code, std::string path)
    : code_(std::move(code)), path_(std::move(path)) {}

CDivideLoaderDB2::CDivideLoaderDB2(std::string code, CDBStock3& database)
    : code_(std::move(code)), database_(&database) {}

int32_t CDivideLoaderDB2::Load(CDivide& divide) {
  if (database_ != nullptr) return LoadFrom(*database_, code_, divide);
  if (path_.empty()) return LoadFrom(CDBStock3::Instance(), code_, divide);
  CDBStock3 db;
  if (!db.Connect(path_)) return kConnectFailed;
  const int32_t status = LoadFrom(db, code_, divide);
  db.Close();
  return status;
}
