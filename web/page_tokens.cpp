#include "web/page_tokens.h"


#include <cstring>

namespace {

bool IsAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool CPageTokens::Next() {
  converted_ = false;
  if (!open_ || !tokenizer_.Next(kind_, raw_)) {
    open_ = false;
    kind_ = -1;
    raw_.clear();
    return false;
  }
  if (IsEnd("html")) documentEnded_ = true;
  return true;
}

const std::string& CPageTokens::Text() {
  if (!converted_) {
    converted_ = true;
    // ASCII reads the same in UTF-8 and CP932.
    rawIsText_ = IsAscii(raw_);
    if (!rawIsText_) text_ = converter_.Convert(raw_);
  }
  return rawIsText_ ? raw_ : text_;
}

// The whole name, ignoring the case of ASCII letters only (whatever the
// process locale); a name with a zero byte in it is not cut short there.
bool CPageTokens::SameName(const char* name) const {
  const size_t n = std::strlen(name);
  if (raw_.size() != n) return false;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < n; ++i) {
    if (lower(raw_[i]) != lower(name[i])) return false;
  }
  return true;
}

bool CPageTokens::IsStart(const char* name) const {
  return kind_ == CHtmlTokenizer::kStartTag && SameName(name);
}

bool CPageTokens::IsEnd(const char* name) const {
  return kind_ == CHtmlTokenizer::kEndTag && SameName(name);
}

bool CPageTokens::IsStartExactly(const char* name) const {
  return kind_ == CHtmlTokenizer::kStartTag && std::strcmp(raw_.c_str(), name) == 0;
}
