#include "setup/run_context.h"

#include "support/cp932.h"
#include "web/http_client.h"

std::int32_t CRunContext::DaysInPeriod() const {
  return Today().DaysBetween(firstDate) + 1;
}

std::string DatabaseFileIn(const std::string& folder) { return folder + "/" + "stock.mdb"; }

std::string DailyFolderIn(const std::string& folder) { return folder + "/" + "daily"; }

std::string MarginFolderIn(const std::string& folder) { return folder + "/" + "margin"; }

std::string CRunContext::DatabaseErrorText() const {
  std::string text;
  // The native code is in the text already. The engine's text says what
  // failed ("database or disk is full", "attempt to write a readonly
  // database"); the path says where.
  (void)database.GetError(&text);
  return text + "\n" + Cp932FromUtf8(DatabaseFilePath());
}

bool Cancelled(std::int32_t status, const WorkerProgress& progress) {
  return status == CHttpClient::kErrorCancelled && progress.cancel != 0;
}
