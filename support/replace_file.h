#ifndef TICKORA_SUPPORT_REPLACE_FILE_H_
#define TICKORA_SUPPORT_REPLACE_FILE_H_

#include <cstdio>
#include <string>

// CReplaceFile writes a data file so that it is either the old file or the
// whole new one, never a part: the bytes go to a new file in the same
// folder under a temporary name ("<name>.<pid>-<n>.tmp"), which is renamed
// over the real name only when every byte was written and the file closed.
// A process killed while writing leaves the old file (and at worst the
// temporary one); a failed write leaves the old file and no temporary one.
//
// This is the one way the program replaces a file: chart, margin, quick
// and archive work files, the position file and the settings file.
//
// The new file takes the permission bits and the group of the file it
// replaces (KeptAttributes tells whether both could be given). A symbolic
// link keeps naming the file: the file it points to is replaced, in that
// file's folder. A path that names something other than a regular file (a
// device, a pipe) is written in place, as there is nothing to replace, and
// so is a link to nothing; a folder fails to open.
//
// The object owns the stream from Open until Commit or Abandon; the
// destructor abandons a file that was not committed. Not copyable.
//
// Durability: by default the new file is not forced to the disk before the
// rename: the kernel holds the bytes once they are written, so a killed
// process loses nothing, and setup runs write thousands of these files.
// With kSync, Commit forces the bytes to the disk first, so that the file
// survives the machine too; it is for files another program owns (the
// settings file), which a lost write would damage for that program.
class CReplaceFile {
 public:
  CReplaceFile() = default;
  ~CReplaceFile();
  CReplaceFile(const CReplaceFile&) = delete;
  CReplaceFile& operator=(const CReplaceFile&) = delete;

  enum Durability { kNoSync, kSync };

  // Opens the stream (binary, writing) whose bytes will replace the file at
  // `path`. False when it cannot be made; nothing is left behind then.
  [[nodiscard]] bool Open(const std::string& path, Durability durability = kNoSync);
  // After a successful Open: false when the new file could not be given the
  // permission bits or the group of the file it replaces.
  [[nodiscard]] bool KeptAttributes() const { return keptAttributes_; }

  // The stream to write to; null unless open.
  std::FILE* File() const { return file_; }
  // True when the stream goes to a new file that Commit moves into place;
  // false when it writes the file itself (or nothing is open).
  [[nodiscard]] bool Replacing() const { return file_ != nullptr && !temp_.empty(); }
  // The path the bytes end up at (a link's target); empty unless open.
  const std::string& Target() const { return target_; }

  // Flushes and closes the stream and moves the new file into place. False
  // when a write, the close or the move failed: the new file is then
  // removed and the old one is as it was. False too when nothing is open.
  [[nodiscard]] bool Commit();

  // Closes the stream and removes the new file; the old one is as it was.
  void Abandon();

 private:
  std::FILE* file_ = nullptr;
  bool sync_ = false;
  bool keptAttributes_ = true;
  std::string target_;
  std::string temp_;  // empty when writing in place
};

// Replaces the file at `path` by one holding `text`, as CReplaceFile does.
// False when the file could not be replaced; the old one is then as it was.
[[nodiscard]] bool ReplaceFileWith(const std::string& path, const std::string& text,
                                   CReplaceFile::Durability durability = CReplaceFile::kNoSync);

// Removes the temporary files that a killed process left in `folder` (its
// own files only, not those of its subfolders): regular files named as
// CReplaceFile names them, "<name>.<digits>-<digits>.tmp". Any other file
// is left alone. Call it only while no other process writes there. Answers
// how many were removed.
int RemoveLeftReplacements(const std::string& folder);

#endif  // TICKORA_SUPPORT_REPLACE_FILE_H_
