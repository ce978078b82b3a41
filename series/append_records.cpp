#include "series/append_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "series/issue_file_path.h"
#include "series/record_codec.h"
#include "support/file_error.h"

namespace {

// Writes `bytes` at the end of `path`, made when missing. A link at the
// path is not followed.
bool AppendBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  if (bytes.empty()) return true;
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    NoteFileError(errno, path);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      NoteFileError(n < 0 ? errno : ENOSPC, path);
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) {
    NoteFileError(errno, path);
    return false;
  }
  return true;
}

// The records of `series` dated after `after`, encoded one after another.
template <class Series, class DateOf, class Encode>
std::vector<unsigned char> Encoded(const Series& series, std::uint32_t after,
                                   std::size_t recordBytes, DateOf dateOf, Encode encode) {
  std::vector<unsigned char> bytes;
  for (const auto& record : series) {
    if (dateOf(record) <= after) continue;
    bytes.resize(bytes.size() + recordBytes);
    encode(record, bytes.data() + bytes.size() - recordBytes);
  }
  return bytes;
}

}  // namespace

bool AppendChartRecords(const std::string& folder, const std::string& code, const CChart& bars,
                        std::uint32_t after) {
  std::string path;
  if (!BuildChartFilePath(folder, code, path)) {
    NoteFileError(EINVAL, folder + "/" + code);
    return false;
  }
  return AppendBytes(path, Encoded(bars, after, kBarBytes,
                                   [](const CDayRecord& bar) { return bar.DateNumber(); },
                                   EncodeBar));
}

bool AppendMarginRecords(const std::string& folder, const std::string& code,
                         const CMargin& entries, std::uint32_t after) {
  std::string path;
  if (!BuildMarginFilePath(folder, code, path)) {
    NoteFileError(EINVAL, folder + "/" + code);
    return false;
  }
  return AppendBytes(path, Encoded(entries, after, kMarginEntryBytes,
                                   [](const CMarginRecord& e) { return e.date.ToNumber(); },
                                   EncodeMarginEntry));
}

bool CutToWholeRecords(const std::string& path, std::size_t recordBytes) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    NoteFileError(errno, path);
    return false;
  }
  const off_t whole = info.st_size - info.st_size % static_cast<off_t>(recordBytes);
  if (whole == info.st_size) return true;
  if (!S_ISREG(info.st_mode) || truncate(path.c_str(), whole) != 0) {
    NoteFileError(S_ISREG(info.st_mode) ? errno : EISDIR, path);
    return false;
  }
  return true;
}
