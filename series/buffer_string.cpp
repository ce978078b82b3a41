#include "series/buffer_string.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace {

// The handle of a CBufferString is a separately allocated cursor.
char*& Cursor(CBuffer::Handle handle) { return *static_cast<char**>(handle); }

}  // namespace

CBufferString::CBufferString()
    : text_(new char[kInitialCapacity]), capacity_(kInitialCapacity) {
  text_[0] = '\0';
}

CBufferString::~CBufferString() { delete[] text_; }

CBuffer::Handle CBufferString::OpenRead() { return new char*(text_); }

CBuffer::Handle CBufferString::OpenWrite() {
  text_[0] = '\0';
  return new char*(text_);
}

void CBufferString::Close(Handle handle) { delete static_cast<char**>(handle); }

char* CBufferString::Grow(char* cursor) {
  if (capacity_ > std::numeric_limits<int32_t>::max() / 2) {
    throw std::bad_alloc();
  }
  const int32_t capacity = capacity_ * 2;
  char* text = new char[capacity];
  std::memcpy(text, text_, static_cast<size_t>(capacity_));
  char* moved = text + (cursor - text_);
  delete[] text_;
  text_ = text;
  capacity_ = capacity;
  return moved;
}

bool CBufferString::Write(Handle handle, const char* bytes, int32_t length) {
  if (handle == nullptr) return false;
  char*& cursor = Cursor(handle);
  for (int32_t i = 0; i < length; ++i) {
    if (cursor == text_ + capacity_) cursor = Grow(cursor);
    *cursor++ = bytes[i] == '\0' ? '.' : bytes[i];
  }
  if (cursor == text_ + capacity_) cursor = Grow(cursor);
  *cursor = '\0';
  return true;
}

int32_t CBufferString::GetChar(Handle handle) {
  if (handle == nullptr) return -1;
  char*& cursor = Cursor(handle);
  if (*cursor == '\0') return -1;
  return static_cast<signed char>(*cursor++);
}

bool CBufferString::ReadLine(Handle handle, std::string& line) {
  line.clear();
  if (handle == nullptr) return false;
  char*& cursor = Cursor(handle);
  while (*cursor != '\0') {
    const char c = *cursor++;
    if (c == '\r' || c == '\n') return true;
    line.push_back(c);
  }
  return !line.empty();
}

bool CBufferString::IsEnd(Handle handle) {
  return handle == nullptr || *Cursor(handle) == '\0';
}

void CBufferString::Unget(Handle handle) {
  if (handle == nullptr) return;
  char*& cursor = Cursor(handle);
  if (cursor > text_) --cursor;
}

bool CBufferString::SaveToFile(const std::string& path) const {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::fwrite(text_, 1, std::strlen(text_), file);
  std::fclose(file);
  return true;
}
