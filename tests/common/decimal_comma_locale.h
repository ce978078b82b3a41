#ifndef TICKORA_TESTS_COMMON_DECIMAL_COMMA_LOCALE_H_
#define TICKORA_TESTS_COMMON_DECIMAL_COMMA_LOCALE_H_

#include <gtest/gtest.h>

#include <clocale>
#include <string>

// Switches the whole process to de_DE.UTF-8, whose decimal separator is a
// comma, as the wizard's window toolkit does with the user's locale, and
// back to the previous locale when the object goes. scripts/install-deps
// generates the locale; a test that needs it fails when it is missing,
// since a skipped test would let a locale fault through. Check Active()
// with ASSERT_TRUE before relying on it.
class DecimalCommaLocale {
 public:
  DecimalCommaLocale() {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    previous_ = previous != nullptr ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8"}) {
      if (std::setlocale(LC_ALL, name) != nullptr) break;
    }
    const std::lconv* conv = std::localeconv();
    active_ = conv != nullptr && std::string(conv->decimal_point) == ",";
    if (!active_) {
      ADD_FAILURE() << "the de_DE.UTF-8 locale is missing; run scripts/install-deps";
    }
  }
  ~DecimalCommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  DecimalCommaLocale(const DecimalCommaLocale&) = delete;
  DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

  bool Active() const { return active_; }

 private:
  std::string previous_;
  bool active_ = false;
};

#endif  // TICKORA_TESTS_COMMON_DECIMAL_COMMA_LOCALE_H_
