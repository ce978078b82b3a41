#include "web/html_tokenizer.h"

#include "support/cp932.h"

namespace {

// Machine states. Between tokens the state is kBetween.
enum : int32_t {
  kBetween = 0,
  kAfterOpen = 1,       // after "<"
  kInText = 2,
  kTagName = 3,
  kAfterBang = 4,       // after "<!"
  kInTag = 5,           // after the tag name, between attributes
  kInComment = 7,
  kCommentDash = 8,     // one "-" read
  kCommentDashes = 9,   // "--" (or more) read
  kInAttributeName = 100,
  kAfterName = 101,
  kAfterEquals = 102,
  kQuotedValue = 103,
  kBareValue = 104,
  kInDeclaration = 200,
};

bool IsLetter(int32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsLetterOrDigit(int32_t c) {
  return IsLetter(c) || (c >= '0' && c <= '9');
}

bool IsQuote(int32_t c) { return c == '"' || c == '\''; }

}  // namespace

CHtmlTokenizer::~CHtmlTokenizer() { Close(); }

bool CHtmlTokenizer::Open(CBuffer& buffer) {
  Close();
  buffer_ = &buffer;
  handle_ = buffer.OpenRead();
  state_ = kBetween;
  endTag_ = false;
  pending_ = -1;
  ended_ = false;
  return handle_ != nullptr;
}

void CHtmlTokenizer::Close() {
  if (buffer_ != nullptr && handle_ != nullptr) buffer_->Close(handle_);
  handle_ = nullptr;
}

int32_t CHtmlTokenizer::Read() {
  for (;;) {
    int32_t c = pending_;
    pending_ = -1;
    if (c < 0) {
      if (ended_) return -1;
      c = Fetch();
      if (c < 0) return -1;
    }
    if (c == '\t') return ' ';
    if (c == '\r' || c == '\n') continue;
    return c;
  }
}

int32_t CHtmlTokenizer::Fetch() {
  const int32_t c = buffer_->GetChar(handle_);
  // A memory buffer gives bytes as signed characters, a file buffer as
  // 0-255; both give -1 at the end. A byte 0xFF is the end either way, and
  // stays the end: nothing after it is read.
  if (c == -1 || (c & 0xFF) == 0xFF) {
    ended_ = true;
    return -1;
  }
  return c & 0xFF;
}

bool CHtmlTokenizer::AtEnd() {
  if (pending_ >= 0) return false;
  if (ended_) return true;
  // The buffers disagree on when they report their end (a file only after
  // a read past it), so the next byte is read ahead and kept instead.
  pending_ = Fetch();
  return pending_ < 0;
}

bool CHtmlTokenizer::Next(int32_t& kind, std::string& text) {
  text.clear();
  if (handle_ == nullptr) return false;
  for (;;) {
    const int32_t c = Read();
    if (c < 0) return false;
    const char byte = static_cast<char>(c);
    bool delivered = false;
    switch (state_) {
      case kBetween:
        if (c == '<') {
          endTag_ = false;
          state_ = kAfterOpen;
        } else if (c != ' ') {
          text.push_back(byte);
          state_ = kInText;
        }
        break;
      case kAfterOpen:
        if (c == ' ') {
        } else if (c == '!') {
          state_ = kAfterBang;
        } else if (c == '/') {
          endTag_ = true;
        } else {
          // Not a tag after all: the "<" is dropped and a text begins.
          text.push_back(byte);
          state_ = IsLetter(c) ? kTagName : kInText;
        }
        break;
      case kInText:
        if (c == '<') {
          kind = kText;
          pending_ = c;  // read again, to open the tag
          state_ = kBetween;
          delivered = true;
        } else {
          text.push_back(byte);
        }
        break;
      case kTagName:
        if (IsLetterOrDigit(c)) {
          text.push_back(byte);
        } else if (c == '>') {
          kind = endTag_ ? kEndTag : kStartTag;
          state_ = kBetween;
          delivered = true;
        } else if (c == ' ') {
          kind = kStartTag;  // also for "</name attr>"
          state_ = kInTag;
          delivered = true;
        } else {
          // "<br/" and the like: the tag turns into text.
          text.push_back(byte);
          state_ = kInText;
        }
        break;
      case kAfterBang:
        if (c == ' ' || c == '-') {
        } else if (c == '>') {
          text.push_back(byte);
          state_ = kInText;
        } else {
          text.push_back(byte);
          // "<!DOCTYPE" and "<!doctype" alike; so is any comment whose
          // body begins with a "D" or "d".
          state_ = c == 'D' || c == 'd' ? kInDeclaration : kInComment;
        }
        break;
      case kInTag:
        if (c == '>') {
          state_ = kBetween;
        } else if (c != ' ') {
          text.push_back(byte);
          state_ = kInAttributeName;
        }
        break;
      case kInComment:
        text.push_back(byte);
        if (c == '-') state_ = kCommentDash;
        break;
      case kCommentDash:
        text.push_back(byte);
        state_ = c == '-' ? kCommentDashes : kInComment;
        break;
      case kCommentDashes:
        if (c == '>') {
          while (!text.empty() && (text.back() == '-' || text.back() == ' ')) {
            text.pop_back();
          }
          kind = kComment;
          state_ = kBetween;
          delivered = true;
        } else {
          text.push_back(byte);
          if (c != '-') state_ = kInComment;
        }
        break;
      case kInAttributeName:
        if (c == ' ' || c == '=' || c == '>') {
          kind = kAttributeName;
          state_ = c == ' ' ? kAfterName : c == '=' ? kAfterEquals : kBetween;
          delivered = true;
        } else {
          text.push_back(byte);
        }
        break;
      case kAfterName:
        if (c == ' ') {
        } else if (c == '=') {
          state_ = kAfterEquals;
        } else if (c == '>') {
          state_ = kBetween;
        } else {
          // A new attribute; the one before had no value.
          text.push_back(byte);
          state_ = kInAttributeName;
        }
        break;
      case kAfterEquals:
        if (c == ' ') {
        } else if (IsQuote(c)) {
          state_ = kQuotedValue;
        } else if (c == '>') {
          state_ = kBetween;
        } else {
          text.push_back(byte);
          state_ = kBareValue;
        }
        break;
      case kQuotedValue:
        // Either quote ends the value, whichever opened it.
        if (IsQuote(c)) {
          kind = kAttributeValue;
          state_ = kInTag;
          delivered = true;
        } else {
          text.push_back(byte);
        }
        break;
      case kBareValue:
        if (c == ' ' || c == '>') {
          kind = kAttributeValue;
          state_ = c == ' ' ? kInTag : kBetween;
          delivered = true;
        } else {
          text.push_back(byte);
        }
        break;
      case kInDeclaration:
        if (c == '>') {
          kind = kDeclaration;
          state_ = kBetween;
          delivered = true;
        } else {
          text.push_back(byte);
        }
        break;
      default:
        state_ = kBetween;
        break;
    }
    if (delivered) {
      // The input ends inside a tag: what was delivered is only text.
      if (state_ != kBetween && AtEnd()) kind = kText;
      return true;
    }
  }
}

std::string ConvertUtf8ToAnsi(const std::string& utf8) {
  return Cp932FromUtf8(utf8);
}
