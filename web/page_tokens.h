#ifndef TICKORA_WEB_PAGE_TOKENS_H_
#define TICKORA_WEB_PAGE_TOKENS_H_

#include <cstdint>
#include <string>

#include "series/buffer.h"
#include "support/cp932.h"
#include "web/html_tokenizer.h"

// CPageTokens is the token stream that the page readers walk: the
// tokens of CHtmlTokenizer, each with its bytes as the page sent them
// (Raw) and, on request, as CP932 text (Text, the conversion of
// ConvertUtf8ToAnsi). The conversion is done at most once per token and
// only when a reader asks for it; a token made of ASCII bytes only is its
// own CP932 text and is not passed through the converter at all, and the
// others share one converter for the whole page, which keeps a page of
// thousands of rows cheap to read.
//
// The buffer is not owned and must stay unchanged while the object lives.
// Not copyable.
class CPageTokens {
 public:
  explicit CPageTokens(CBuffer& page) { open_ = tokenizer_.Open(page); }
  CPageTokens(const CPageTokens&) = delete;
  CPageTokens& operator=(const CPageTokens&) = delete;

  // Moves to the next token; false at the end of the page (and when the
  // buffer could not be opened).
  [[nodiscard]] bool Next();

  [[nodiscard]] int32_t Kind() const { return kind_; }
  const std::string& Raw() const { return raw_; }
  // The token's text in CP932 (see ConvertUtf8ToAnsi).
  const std::string& Text();

  [[nodiscard]] bool IsText() const { return kind_ == CHtmlTokenizer::kText; }
  [[nodiscard]] bool IsValue() const { return kind_ == CHtmlTokenizer::kAttributeValue; }
  // An attribute value equal to `value`, byte for byte as the page wrote it.
  [[nodiscard]] bool IsValue(const char* value) const { return IsValue() && raw_ == value; }
  // A start (or end) tag whose name equals `name` ignoring case.
  [[nodiscard]] bool IsStart(const char* name) const;
  [[nodiscard]] bool IsEnd(const char* name) const;
  // A start tag named exactly `name`, case included.
  [[nodiscard]] bool IsStartExactly(const char* name) const;

  // The page's closing </html> has gone by: the page is a whole document.
  // A reader that takes a page without its table as "no rows" asks this
  // first, so that damaged bytes or a body cut where the transport could
  // not see it never read as a range without trading.
  [[nodiscard]] bool DocumentEnded() const { return documentEnded_; }

 private:
  [[nodiscard]] bool SameName(const char* name) const;

  CHtmlTokenizer tokenizer_;
  CCp932FromUtf8 converter_;
  bool open_ = false;
  bool documentEnded_ = false;
  int32_t kind_ = -1;
  std::string raw_;
  std::string text_;
  bool converted_ = false;
  bool rawIsText_ = false;
};

// `text` contains `part` (byte for byte).
[[nodiscard]] inline bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

#endif  // TICKORA_WEB_PAGE_TOKENS_H_
