#ifndef TICKORA_TESTS_COMMON_SCOPED_ENV_H_
#define TICKORA_TESTS_COMMON_SCOPED_ENV_H_

#include <cstdlib>
#include <optional>
#include <string>

// Sets (or, with nullptr, unsets) an environment variable for the life of
// the object and restores the old state afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) setenv(name, value, 1); else unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_.c_str(), old_->c_str(), 1); else unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const std::string name_;  // a copy: callers often pass a temporary's text
  std::optional<std::string> old_;
};

#endif  // TICKORA_TESTS_COMMON_SCOPED_ENV_H_
