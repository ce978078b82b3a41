// Feeds arbitrary bytes to CHtmlTokenizer as a downloaded page and converts
// every token text with ConvertUtf8ToAnsi. Besides the sanitizers' checks
// it stops on any broken promise of the tokenizer: a kind outside the seven;
// a token text holding a tab, a line end or a byte 0xFF; token texts that
// together hold more bytes than the page; a stream that goes on after it
// ended, or that a closed tokenizer goes on; a stream that differs when the
// page is cut at its first byte 0xFF (which reads as the end) or when the
// same tokenizer is opened on it again, after a whole walk or part of one,
// or when the page is kept in a file instead of memory.
// The page and every token text also go through one converter kept from
// input to input, which must give what a fresh conversion gives, and both
// conversions must stay within their bounds (3 UTF-8 bytes a CP932 byte,
// 2 CP932 bytes a UTF-8 byte).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "series/buffer_file.h"
#include "series/buffer_string.h"
#include "support/cp932.h"
#include "web/html_tokenizer.h"

using fuzz::Check;

namespace {

void CheckConversions(const std::string& text) {
  static CCp932FromUtf8 kept;
  const std::string cp932 = Cp932FromUtf8(text);
  Check(kept.Convert(text) == cp932 && cp932.size() <= 2 * text.size());
  Check(Utf8FromCp932(text).size() <= 3 * text.size());
}

struct Page : CBufferString {
  Page(const uint8_t* data, size_t size) {
    Handle handle = OpenWrite();
    // A text in memory takes every byte.
    (void)Write(handle, reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    Close(handle);
  }
};

using Tokens = std::vector<std::pair<int32_t, std::string>>;

Tokens Walk(CHtmlTokenizer& tokenizer, CBuffer& page) {
  Tokens tokens;
  Check(tokenizer.Open(page));
  int32_t kind = -1;
  std::string text;
  while (tokenizer.Next(kind, text)) tokens.emplace_back(kind, text);
  // Once ended, it stays ended; closed, it gives nothing, not even an old
  // text.
  Check(!tokenizer.Next(kind, text));
  tokenizer.Close();
  text = "stale";
  Check(!tokenizer.Next(kind, text) && text.empty());
  return tokens;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  Page page(data, size);
  CHtmlTokenizer tokenizer;
  const Tokens tokens = Walk(tokenizer, page);
  size_t bytes = 0;
  for (const auto& [kind, text] : tokens) {
    Check(kind >= CHtmlTokenizer::kDeclaration && kind <= CHtmlTokenizer::kText);
    Check(text.find_first_of("\t\r\n\xff") == std::string::npos);
    bytes += text.size();
    ConvertUtf8ToAnsi(text);
    CheckConversions(text);
  }
  CheckConversions(std::string(reinterpret_cast<const char*>(data), size));
  Check(bytes <= size);

  Check(Walk(tokenizer, page) == tokens);
  // Opened again wherever a walk stopped (a "<" held back to be read again,
  // a tag half read), it starts afresh. The first tokens of a small page
  // hold those states and keep the fuzzer fast.
  for (size_t k = 1; size <= (1u << 13) && k < tokens.size() && k <= 64; ++k) {
    Check(tokenizer.Open(page));
    int32_t kind = -1;
    std::string text;
    for (size_t i = 0; i < k; ++i) Check(tokenizer.Next(kind, text));
    Check(Walk(tokenizer, page) == tokens);
  }
  // The same text kept in a file (read back unsigned, where memory gives
  // signed bytes) gives the same tokens; memory keeps a zero byte as ".".
  std::string text(reinterpret_cast<const char*>(data), size);
  std::replace(text.begin(), text.end(), '\0', '.');
  const std::string path = fuzz::TempPath("page.html");
  fuzz::Fresh(path);
  CBufferFile file(path);
  CBuffer::Handle handle = file.OpenWrite();
  Check(file.Write(handle, text.data(), static_cast<int32_t>(size)));
  file.Close(handle);
  CHtmlTokenizer fromFile;
  Check(Walk(fromFile, file) == tokens);
  const void* end = std::memchr(data, 0xff, size);
  if (end != nullptr) {
    Page cut(data, static_cast<const uint8_t*>(end) - data);
    CHtmlTokenizer other;
    Check(Walk(other, cut) == tokens);
  }
  return 0;
}
