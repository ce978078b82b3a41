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
    if (old_) setenv(name_, old_->c_str(), 1); else unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

#endif  // TICKORA_TESTS_COMMON_SCOPED_ENV_H_
