#include "series/quick_file.h"

#include <algorithm>
#include <cstring>

#include "series/record_file.h"

void PutQuickCode(unsigned char* at, const std::string& code) {
  const size_t length = std::min(code.size(), kQuickCodeBytes);
  std::memcpy(at, code.data(), length);
  std::memset(at + length, 0, kQuickCodeBytes - length);
}

std::string GetQuickCode(const unsigned char* at) {
  size_t length = 0;
  while (length < kQuickCodeBytes && at[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(at), length);
}

// ---- Writer -----------------------------------------------------------------

int32_t CQuickFileWriter::Create(const char* path) {
  return out_.Create(path) ? kQuickFileOk : kQuickFileCannotCreate;
}

int32_t CQuickFileWriter::WriteHeader(const CQuickFileHeader& header) {
  unsigned char* at = out_.Extend(kQuickHeaderBytes);
  std::memcpy(at, header.magic, 4);
  PutLittleU32(at + 4, header.version);
  PutLittleU32(at + 8, header.beginDate);
  PutLittleU32(at + 12, header.endDate);
  PutLittleU32(at + 16, header.count);
  // Each part is flushed on its own so that a failure is reported by the
  // part that met it.
  return out_.Flush() ? kQuickFileOk : kQuickFileHeaderFailed;
}

void CQuickFileWriter::PutDirectoryEntry(const std::string& code) {
  PutQuickCode(out_.Extend(kQuickCodeBytes), code);
}

int32_t CQuickFileWriter::EndDirectory() {
  return out_.Flush() ? kQuickFileOk : kQuickFileDirectoryFailed;
}

unsigned char* CQuickFileWriter::PutRecord(const unsigned char* code,
                                           uint32_t date, size_t recordBytes) {
  unsigned char* at = out_.Extend(recordBytes);
  std::memcpy(at, code, kQuickCodeBytes);
  PutLittleU32(at + kQuickCodeBytes, date);
  return at;
}

int32_t CQuickFileWriter::Finish() {
  return out_.Close() ? kQuickFileOk : kQuickFileRecordFailed;
}

// ---- Reader -----------------------------------------------------------------

bool CQuickFileReader::Open(const char* path, const char* magic) {
  header_ = CQuickFileHeader();
  codes_.clear();
  if (!in_.Open(path)) return false;
  const unsigned char* at = in_.Take(kQuickHeaderBytes);
  if (at == nullptr || std::memcmp(at, magic, 4) != 0) return false;
  std::memcpy(header_.magic, at, 4);
  header_.version = GetLittleU32(at + 4);
  header_.beginDate = GetLittleU32(at + 8);
  header_.endDate = GetLittleU32(at + 12);
  header_.count = GetLittleU32(at + 16);
  if (header_.version != kQuickFileVersion) return false;
  // The count is the file's claim: room is reserved only for the entries
  // the rest of the file can hold.
  codes_.reserve(static_cast<size_t>(
      std::min<uint64_t>(header_.count, in_.Left() / kQuickCodeBytes)));
  for (uint32_t i = 0; i < header_.count; ++i) {
    at = in_.Take(kQuickCodeBytes);
    if (at == nullptr) break;
    codes_.push_back(GetQuickCode(at));
  }
  return true;
}
