#ifndef TICKORA_SETUP_FOLDER_LOCK_H_
#define TICKORA_SETUP_FOLDER_LOCK_H_

#include <string>

// CFolderLock keeps a database folder to one setup run at a time. It holds
// an exclusive advisory lock (flock) on the file "setup.lock" in the
// folder from Lock until Unlock or the object goes; the kernel drops the
// lock when the process ends in any way, so a killed run never leaves the
// folder locked. The file itself stays in the folder (removing it would let
// a second run lock a file that is no longer the folder's).
//
// A front end takes the lock before it touches anything in the folder
// (the position file included) and holds it for the whole run. The lock
// file is opened without following a link. Not copyable.
class CFolderLock {
 public:
  static constexpr const char* kFileName = "setup.lock";

  enum class Result {
    kLocked,  // this object holds the folder
    kBusy,    // another process (or object) holds it
    kFailed,  // the lock file could not be opened; Error() says why
  };

  CFolderLock() = default;
  ~CFolderLock();
  CFolderLock(const CFolderLock&) = delete;
  CFolderLock& operator=(const CFolderLock&) = delete;

  // Locks `folder`, which must exist, without waiting. A lock this object
  // already holds is let go first.
  Result Lock(const std::string& folder);
  void Unlock();
  [[nodiscard]] bool Locked() const { return fd_ >= 0; }

  // For kFailed: the system's text and the path, CP932.
  const std::string& Error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

#endif  // TICKORA_SETUP_FOLDER_LOCK_H_
