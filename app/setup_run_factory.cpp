#include "app/setup_run_factory.h"

// The run over a market data source of its own, on the system's local
// clock.
std::unique_ptr<CSetupRun> MakeSetupRun(const CRunOptions* options) {
  return std::make_unique<CSetupRun>(options);
}
