#include "support/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "support/file_error.h"

namespace {

// Numbers the temporary names of this process; the process id keeps two
// processes apart.
std::atomic<unsigned> temp_counter{0};

// Creates a new file for writing beside `target`, under a name nobody else
// holds, and answers its descriptor (or -1) and name.
int CreateBeside(const std::string& target, std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = target + "." + std::to_string(getpid()) + "-" +
            std::to_string(temp_counter.fetch_add(1)) + ".tmp";
    // O_EXCL refuses any name that exists, a link included, so the bytes
    // never go through something placed there in the meantime.
    const int fd =
        open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

CReplaceFile::~CReplaceFile() { Abandon(); }

bool CReplaceFile::Open(const std::string& path, Durability durability) {
  Abandon();
  sync_ = durability == kSync;
  keptAttributes_ = true;
  target_ = path;
  struct stat info {};
  const bool exists = stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    // A device or a pipe is written as it is; a folder fails here.
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
      NoteFileError(errno, path);
      target_.clear();
    }
    return file_ != nullptr;
  }
  struct stat link {};
  const bool isLink = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  if (isLink && !exists) {
    // A link to nothing: writing through it makes the file it names.
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
      NoteFileError(errno, path);
      target_.clear();
    }
    return file_ != nullptr;
  }
  if (isLink) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
      NoteFileError(errno, path);
      target_.clear();
      return false;
    }
    target_ = resolved;
    std::free(resolved);
  }
  const int fd = CreateBeside(target_, &temp_);
  if (fd < 0) {
    NoteFileError(errno, target_);
    temp_.clear();
    target_.clear();
    return false;
  }
  if (exists) {
    keptAttributes_ = fchmod(fd, info.st_mode & 07777) == 0;
    struct stat made {};
    if (keptAttributes_ && fstat(fd, &made) == 0 && made.st_gid != info.st_gid) {
      keptAttributes_ = fchown(fd, static_cast<uid_t>(-1), info.st_gid) == 0;
    }
  }
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    close(fd);
    Abandon();
    return false;
  }
  return true;
}

bool CReplaceFile::Commit() {
  if (file_ == nullptr) return false;
  const bool written = std::fflush(file_) == 0 && std::ferror(file_) == 0 &&
                       (!sync_ || temp_.empty() || fsync(fileno(file_)) == 0);
  if (!written) NoteFileError(errno, target_);
  const bool closed = std::fclose(file_) == 0;
  if (written && !closed) NoteFileError(errno, target_);
  file_ = nullptr;
  bool ok = written && closed;
  if (!temp_.empty()) {
    if (ok && std::rename(temp_.c_str(), target_.c_str()) != 0) {
      NoteFileError(errno, target_);
      ok = false;
    }
    if (!ok) unlink(temp_.c_str());
    temp_.clear();
  }
  target_.clear();
  return ok;
}

void CReplaceFile::Abandon() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
  target_.clear();
}

bool ReplaceFileWith(const std::string& path, const std::string& text,
                     CReplaceFile::Durability durability) {
  CReplaceFile out;
  if (!out.Open(path, durability)) return false;
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), out.File()) != text.size()) {
    NoteFileError(errno, out.Target());
    return false;  // the destructor abandons the new file
  }
  return out.Commit();
}

namespace {

// "<name>.<digits>-<digits>.tmp" with a non-empty name.
bool IsReplacementName(const std::string& name) {
  constexpr std::string_view kEnd = ".tmp";
  if (name.size() <= kEnd.size() || !name.ends_with(kEnd)) return false;
  size_t i = name.size() - kEnd.size();
  const auto digits_before = [&](size_t end) {
    size_t start = end;
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
    return start;
  };
  const size_t counter = digits_before(i);
  if (counter == i || counter == 0 || name[counter - 1] != '-') return false;
  const size_t pid = digits_before(counter - 1);
  return pid != counter - 1 && pid > 1 && name[pid - 1] == '.';
}

}  // namespace

int RemoveLeftReplacements(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  int removed = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    if (!it->is_regular_file(kind) || !IsReplacementName(it->path().filename().string())) {
      continue;
    }
    std::error_code gone;
    if (fs::remove(it->path(), gone)) ++removed;
  }
  return removed;
}
