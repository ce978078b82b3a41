#ifndef TICKORA_APP_SETUP_RUN_FACTORY_H_
#define TICKORA_APP_SETUP_RUN_FACTORY_H_

#include <memory>

#include "setup/setup_run.h"

// Makes the setup run the wizard drives: the run with its four download
// stages, reading the choices from `options` (not owned; it must outlive
// the run).
std::unique_ptr<CSetupRun> MakeSetupRun(const CRunOptions* options);

#endif  // TICKORA_APP_SETUP_RUN_FACTORY_H_
