#include "series/archive_index.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "series/record_codec.h"
#include "series/record_file.h"

namespace {

constexpr size_t kIssueNumberBytes = 2;

}  // namespace

CArchiveIndex::CArchiveIndex(size_t valueBytes) : valueBytes_(valueBytes) {}

CArchiveIndex::~CArchiveIndex() { Reset(); }

void CArchiveIndex::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  out_.reset();
  if (!path_.empty()) unlink(path_.c_str());
  path_.clear();
  writing_ = written_ = false;
  headerBytes_.clear();
  headerDone_ = false;
  header_ = CArchiveFileHeader();
  stopped_ = false;
  tooManyRuns_ = false;
  runCount_ = 0;
  pending_.clear();
  index_.clear();
  records_ = 0;
  lastCode_.clear();
  lastRuns_ = nullptr;
  lastNumber_ = -1;
}

bool CArchiveIndex::Begin(const std::string& path) {
  Reset();
  out_ = std::make_unique<CChunkWriter>();
  if (!out_->Create(path.c_str())) {
    out_.reset();
    return false;
  }
  path_ = path;
  writing_ = true;
  return true;
}

void CArchiveIndex::Add(const void* bytes, size_t size) {
  if (!writing_ || stopped_) return;
  const unsigned char* at = static_cast<const unsigned char*>(bytes);
  const unsigned char* const end = at + size;

  if (!headerDone_) {
    const size_t take = std::min(kArchiveHeaderBytes - headerBytes_.size(), size);
    headerBytes_.append(reinterpret_cast<const char*>(at), take);
    at += take;
    if (headerBytes_.size() < kArchiveHeaderBytes) return;
    const auto* h = reinterpret_cast<const unsigned char*>(headerBytes_.data());
    header_.version = GetLittleF32(h);
    header_.madeDate = GetLittleU32(h + 4);
    headerDone_ = true;
  }

  // First complete a record that an earlier piece began.
  while (!pending_.empty() && at < end) {
    size_t need = kIssueNumberBytes + valueBytes_;
    if (!header_.IsOldLayout()) {
      size_t zero = pending_.find('\0');
      if (zero == std::string::npos) {
        const void* z = std::memchr(at, 0, static_cast<size_t>(end - at));
        const size_t upto = z != nullptr
                                ? static_cast<size_t>(static_cast<const unsigned char*>(z) - at) + 1
                                : static_cast<size_t>(end - at);
        pending_.append(reinterpret_cast<const char*>(at), upto);
        at += upto;
        zero = z != nullptr ? pending_.size() - 1 : std::string::npos;
        if (zero == std::string::npos ? pending_.size() > kMaxCodeBytes
                                      : zero > kMaxCodeBytes) {
          stopped_ = true;
          pending_.clear();
          return;
        }
        if (zero == std::string::npos) return;
      }
      need = zero + 1 + valueBytes_;
    }
    const size_t take = std::min(need - pending_.size(), static_cast<size_t>(end - at));
    pending_.append(reinterpret_cast<const char*>(at), take);
    at += take;
    if (pending_.size() < need) return;
    const auto* record = reinterpret_cast<const unsigned char*>(pending_.data());
    TakeRecords(record, record + pending_.size());
    pending_.clear();
  }
  at = TakeRecords(at, end);
  if (!stopped_) pending_.assign(reinterpret_cast<const char*>(at), end - at);
}

const unsigned char* CArchiveIndex::TakeRecords(const unsigned char* at,
                                                const unsigned char* end) {
  if (header_.IsOldLayout()) {
    const size_t size = kIssueNumberBytes + valueBytes_;
    while (static_cast<size_t>(end - at) >= size && !stopped_) {
      const int32_t number = at[0] | at[1] << 8;
      if (number != lastNumber_) {
        char text[8];
        const char* stop = std::to_chars(text, text + sizeof text, number).ptr;
        lastNumber_ = number;
        Record(text, static_cast<size_t>(stop - text), at + kIssueNumberBytes);
      } else {
        Record(lastCode_.data(), lastCode_.size(), at + kIssueNumberBytes);
      }
      at += size;
    }
    return at;
  }
  while (at < end && !stopped_) {
    const size_t left = static_cast<size_t>(end - at);
    const void* z = std::memchr(at, 0, std::min(left, kMaxCodeBytes + 1));
    if (z == nullptr) {
      if (left > kMaxCodeBytes) {
        stopped_ = true;
        return end;
      }
      return at;
    }
    const auto* values = static_cast<const unsigned char*>(z) + 1;
    if (static_cast<size_t>(end - values) < valueBytes_) return at;
    Record(reinterpret_cast<const char*>(at),
           static_cast<size_t>(values - 1 - at), values);
    at = values + valueBytes_;
  }
  return at;
}

void CArchiveIndex::Record(const char* code, size_t codeSize,
                           const unsigned char* values) {
  if (stopped_) return;
  if (lastRuns_ == nullptr || std::string_view(lastCode_) != std::string_view(code, codeSize)) {
    lastCode_.assign(code, codeSize);
    lastRuns_ = &index_[lastCode_];
  }
  std::vector<Run>& runs = *lastRuns_;
  if (!runs.empty() && runs.back().first + runs.back().count == records_) {
    ++runs.back().count;
  } else {
    // Runs cost memory whatever the file's size on disk: a file whose
    // codes alternate from record to record would take an entry each.
    if (++runCount_ > kMaxRuns) {
      tooManyRuns_ = true;
      stopped_ = true;
      return;
    }
    runs.push_back(Run{records_, 1});
  }
  ++records_;
  out_->Put(values, valueBytes_);
}

bool CArchiveIndex::End() {
  if (!writing_) return false;
  writing_ = false;
  std::string().swap(pending_);
  std::string().swap(headerBytes_);
  written_ = out_->Close();
  out_.reset();
  if (written_) {
    fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    written_ = fd_ >= 0;
  }
  return written_;
}

bool CArchiveIndex::ReadRun(const Run& run, std::string& out) const {
  if (fd_ < 0) return false;
  const size_t size = static_cast<size_t>(run.count) * valueBytes_;
  out.resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = pread(fd_, out.data() + got, size - got,
                            static_cast<off_t>(run.first * valueBytes_ + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool ReadIndexedBars(const CArchiveIndex& index, const std::string& code,
                     CChart& out) {
  out.clear();
  return index.ForEach(code, [&out](const unsigned char* values) {
    out.push_back(DecodeBar(values));
  });
}

bool ReadIndexedMargins(const CArchiveIndex& index, const std::string& code,
                        CMargin& out) {
  out.clear();
  return index.ForEach(code, [&out](const unsigned char* values) {
    out.push_back(DecodeMarginEntry(values));
  });
}
