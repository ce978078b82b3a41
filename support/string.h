#ifndef TICKORA_SUPPORT_STRING_H_
#define TICKORA_SUPPORT_STRING_H_

#include <string>

// String is the standard byte string with a virtual destructor, so that
// classes which are a text at heart (a temporary file is its path) can
// derive from it and be destroyed through a String pointer. It adds no data.
// Its bytes are CP932 text like every other text of the system.
class String : public std::string {
 public:
  using std::string::string;
  String() = default;
  String(const std::string& s) : std::string(s) {}
  String(std::string&& s) : std::string(std::move(s)) {}
  String(const String&) = default;
  String(String&&) = default;
  String& operator=(const String&) = default;
  String& operator=(String&&) = default;
  virtual ~String() = default;
};

#endif  // TICKORA_SUPPORT_STRING_H_
