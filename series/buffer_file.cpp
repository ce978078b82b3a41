#include "series/buffer_file.h"

#include <cstdio>
#include <utility>

namespace {

std::FILE* Stream(CBuffer::Handle handle) {
  return static_cast<std::FILE*>(handle);
}

}  // namespace

CBufferFile::CBufferFile(std::string path) : file_(std::move(path)) {}

CBuffer::Handle CBufferFile::OpenRead() {
  return std::fopen(file_.c_str(), "rb");
}

CBuffer::Handle CBufferFile::OpenWrite() {
  return std::fopen(file_.c_str(), "wb");
}

void CBufferFile::Close(Handle handle) {
  if (handle != nullptr) std::fclose(Stream(handle));
}

bool CBufferFile::Write(Handle handle, const char* bytes, int32_t length) {
  if (handle == nullptr || length < 0) return false;
  if (length == 0) return true;
  size_t size = static_cast<size_t>(length);
  return std::fwrite(bytes, 1, size, Stream(handle)) == size;
}

int32_t CBufferFile::GetChar(Handle handle) {
  if (handle == nullptr) return -1;
  int c = std::fgetc(Stream(handle));
  return c == EOF ? -1 : c;
}

bool CBufferFile::ReadLine(Handle, std::string&) { return false; }

bool CBufferFile::IsEnd(Handle handle) {
  return handle == nullptr || std::feof(Stream(handle)) != 0;
}

void CBufferFile::Unget(Handle) {}
