#include "app/setup_run_factory.h"

#include "setup/download_run.h"

// The run with the four download stages over a market data source of its
// own, on the system's local clock.
std::unique_ptr<CSetupRun> MakeSetupRun(const CRunOptions* options) {
  return std::make_unique<CDownloadRun>(options, nullptr);
}
