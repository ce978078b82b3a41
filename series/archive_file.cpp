#include "series/archive_file.h"

#include <charconv>

#include "series/record_file.h"

namespace {

constexpr size_t kIssueNumberBytes = 2;
constexpr uint32_t kMaxIssueNumber = 0xFFFF;

}  // namespace

// ---- Reader -----------------------------------------------------------------

bool CArchiveFileReader::Open(const char* path) {
  header_ = CArchiveFileHeader();
  code_.clear();
  number_ = -1;
  if (!in_.Open(path)) return false;
  const unsigned char* at = in_.Take(kArchiveHeaderBytes);
  if (at == nullptr) return false;
  header_.version = GetLittleF32(at);
  header_.madeDate = GetLittleU32(at + 4);
  return true;
}

const unsigned char* CArchiveFileReader::Next(size_t valueBytes) {
  if (!header_.IsOldLayout()) {
    if (!in_.TakeText(code_)) return nullptr;
    return in_.Take(valueBytes);
  }
  const unsigned char* at = in_.Take(kIssueNumberBytes + valueBytes);
  if (at == nullptr) return nullptr;
  const int32_t number = at[0] | at[1] << 8;
  if (number != number_) {
    char text[8];
    const auto end = std::to_chars(text, text + sizeof text, number).ptr;
    code_.assign(text, end);
    number_ = number;
  }
  return at + kIssueNumberBytes;
}

uint64_t CArchiveFileReader::RecordsLeft(size_t valueBytes) const {
  // The shortest code part: the zero byte of an empty code, or the number.
  const size_t shortest = header_.IsOldLayout() ? kIssueNumberBytes : 1;
  return in_.Left() / (valueBytes + shortest) + 1;
}

// ---- Writer -----------------------------------------------------------------

bool CArchiveFileWriter::CanHold(const std::string& code, bool oldLayout) {
  if (!oldLayout) return code.find('\0') == std::string::npos;
  if (code.empty() || code.size() > 5 || (code[0] == '0' && code.size() > 1)) {
    return false;
  }
  uint32_t number = 0;
  const auto [end, error] =
      std::from_chars(code.data(), code.data() + code.size(), number);
  return error == std::errc() && end == code.data() + code.size() &&
         number <= kMaxIssueNumber;
}

bool CArchiveFileWriter::Create(const char* path,
                                const CArchiveFileHeader& header) {
  if (!out_.Create(path)) return false;
  oldLayout_ = header.IsOldLayout();
  unsigned char* at = out_.Extend(kArchiveHeaderBytes);
  PutLittleF32(at, header.version);
  PutLittleU32(at + 4, header.madeDate);
  return true;
}

void CArchiveFileWriter::BeginIssue(const std::string& code) {
  if (!oldLayout_) {
    codeBytes_.assign(code.c_str(), code.size() + 1);  // with its zero
    return;
  }
  uint32_t number = 0;
  std::from_chars(code.data(), code.data() + code.size(), number);
  codeBytes_.assign(kIssueNumberBytes, '\0');
  codeBytes_[0] = static_cast<char>(number & 0xFF);
  codeBytes_[1] = static_cast<char>(number >> 8 & 0xFF);
}

unsigned char* CArchiveFileWriter::PutRecord(size_t valueBytes) {
  out_.Put(codeBytes_.data(), codeBytes_.size());
  return out_.Extend(valueBytes);
}

bool CArchiveFileWriter::Finish() { return out_.Close(); }
