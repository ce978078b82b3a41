#include "setup/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "support/file_error.h"

CFolderLock::~CFolderLock() { Unlock(); }

CFolderLock::Result CFolderLock::Lock(const std::string& folder) {
  Unlock();
  error_.clear();
  const std::string path = folder + "/" + kFileName;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    ClearFileError();
    NoteFileError(errno, path);
    error_ = LastFileError();
    return Result::kFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return Result::kBusy;
    NoteFileError(error, path);
    error_ = LastFileError();
    return Result::kFailed;
  }
  fd_ = fd;
  return Result::kLocked;
}

void CFolderLock::Unlock() {
  if (fd_ >= 0) close(fd_);  // closing the last descriptor drops the lock
  fd_ = -1;
}
