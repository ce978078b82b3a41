#include "web/page_tokens.h"

#include <strings.h>

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

bool CPageTokens::IsStart(const char* name) const {
  return kind_ == CHtmlTokenizer::kStartTag && strcasecmp(raw_.c_str(), name) == 0;
}

bool CPageTokens::IsEnd(const char* name) const {
  return kind_ == CHtmlTokenizer::kEndTag && strcasecmp(raw_.c_str(), name) == 0;
}

bool CPageTokens::IsStartExactly(const char* name) const {
  return kind_ == CHtmlTokenizer::kStartTag && std::strcmp(raw_.c_str(), name) == 0;
}
