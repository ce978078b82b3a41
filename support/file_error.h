#ifndef TICKORA_SUPPORT_FILE_ERROR_H_
#define TICKORA_SUPPORT_FILE_ERROR_H_

#include <string>

// The cause of the last failed file operation of the calling thread: the
// system's error number and the path it failed on. The writers of the
// folder's files (and of the archive client's temporary files) note it
// where a create, write, close, rename or sync fails, and a stage that
// stops on such a failure puts it after its own text, so that a full disk
// or a read-only folder is named as such instead of a bare "could not
// write". Like errno, it is per thread and only overwritten, never read
// back by the writers themselves: clear it before the operation whose
// cause is wanted.

// Notes `error_number` (an errno value) as the cause of a failure on `path`.
void NoteFileError(int error_number, const std::string& path);

// Forgets the cause noted last on this thread.
void ClearFileError();

// The errno value noted last on this thread; 0 when none.
[[nodiscard]] int LastFileErrorNumber();

// "<the system's text> (<path>)" in CP932, the system's text in the
// user's language (the process locale's messages); empty when nothing was
// noted since the last ClearFileError.
std::string LastFileError();

#endif  // TICKORA_SUPPORT_FILE_ERROR_H_
