#ifndef TICKORA_WEB_HTML_TOKENIZER_H_
#define TICKORA_WEB_HTML_TOKENIZER_H_

#include <cstdint>
#include <string>

#include "series/buffer.h"

// CHtmlTokenizer walks a downloaded page as a flat stream of tokens: start
// and end tags, attribute names and values, texts, comments and
// declarations. The page readers run small state machines over that
// stream; there is no document tree, no nesting, no entity decoding and no
// character-set handling (token texts are the page's bytes; see
// ConvertUtf8ToAnsi).
//
// It is a single pass, one byte at a time, tolerant of any input: every
// byte sequence gives some token stream, broken markup turning into text.
// Tabs read as blanks; carriage returns and line feeds are dropped, so a
// line break inside a text joins its two lines. A byte 0xFF reads as the
// end of the input. Text after the last tag is never delivered.
//
// The buffer is not owned; it must stay open-able and unchanged from Open
// until Close (or the destructor), which release the read handle. The
// machine's state survives between calls to Next: that is what lets an
// attribute name be delivered and the next call start on its value.
class CHtmlTokenizer {
 public:
  // Token kinds.
  enum : int32_t {
    kDeclaration = 0,  // from the "D" or "d" after "<!" to before the ">"
    kStartTag = 1,     // the tag name
    kEndTag = 2,       // the tag name of "</name>"
    kAttributeName = 3,
    kAttributeValue = 4,  // without quotes
    kComment = 5,      // the body, trailing "-" and blanks removed
    kText = 6,         // bytes between tags, leading blanks skipped
  };

  CHtmlTokenizer() = default;
  virtual ~CHtmlTokenizer();
  CHtmlTokenizer(const CHtmlTokenizer&) = delete;
  CHtmlTokenizer& operator=(const CHtmlTokenizer&) = delete;

  // Closes any earlier handle, opens `buffer` for reading and starts
  // between tokens. True when the buffer gave a read handle.
  [[nodiscard]] bool Open(CBuffer& buffer);
  void Close();

  // Reads until one token is complete and delivers it. False at the end of
  // the input when nothing remains (text gathered since the last token is
  // then dropped), and on every later call.
  [[nodiscard]] bool Next(int32_t& kind, std::string& text);

 private:
  // The next byte after the preparation above (0-255; tab as blank, line
  // ends skipped), or -1 at the end.
  [[nodiscard]] int32_t Read();
  // The next byte of the buffer as 0-255, or -1 at its end (or at a byte
  // 0xFF), with no preparation.
  [[nodiscard]] int32_t Fetch();
  // True when no byte is left, answered alike for every kind of buffer: a
  // byte is read ahead into pending_ when none is there.
  [[nodiscard]] bool AtEnd();

  CBuffer* buffer_ = nullptr;
  CBuffer::Handle handle_ = nullptr;
  int32_t state_ = 0;
  bool endTag_ = false;
  // A byte the next Read takes before the buffer's: the "<" that ended a
  // text, or a byte read ahead by AtEnd. -1 for none.
  int32_t pending_ = -1;
  // The end (or a byte 0xFF) was read; nothing more is.
  bool ended_ = false;
};

// Converts UTF-8 page text to CP932. A character CP932 cannot hold, and any
// byte sequence that is not UTF-8, becomes "?". The result has whatever
// length the text needs: no token is cut.
std::string ConvertUtf8ToAnsi(const std::string& utf8);

#endif  // TICKORA_WEB_HTML_TOKENIZER_H_
