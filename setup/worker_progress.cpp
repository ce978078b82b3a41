#include "setup/worker_progress.h"

std::string WorkerProgress::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

void WorkerProgress::SetStatus(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = text;
}

std::string WorkerProgress::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

void WorkerProgress::SetError(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  error_ = text;
}

void WorkerProgress::ResetForFreshRun() {
  SetError(std::string());
  total = 100;
  done = 0;
  stage = kStageNone;
  resumeIndex = 0;
  cancel = 0;
  resume = 0;
}

void WorkerProgress::ResetForResume() {
  SetError(std::string());
  total = 100;
  done = 0;
  cancel = 0;
  resume = 1;
}
