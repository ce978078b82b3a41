#ifndef TICKORA_SERIES_TEMP_FILE_H_
#define TICKORA_SERIES_TEMP_FILE_H_

#include <string>

#include "support/string.h"

// CTempFile ties the life of a file on disk to the life of an object. Its
// string content is the path of the file it guards; an empty path guards
// nothing. The file is deleted (unlinked) when the object goes or when it is
// pointed at another path. Whether the file exists is never checked: a
// failed deletion, for instance of a file that was never created, is
// ignored.
//
// The path is the object's own text, so changing it through the string
// operations changes which file will be deleted. A copy would delete the
// same file twice, so a CTempFile is not copied or assigned.
class CTempFile : public String {
 public:
  // Stores the path; nothing is created.
  explicit CTempFile(std::string path = std::string());
  ~CTempFile() override;

  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;

  // Deletes the file at the current path (when there is one), then guards
  // `path`. An empty `path` asks for a fresh unique name in the temporary
  // folder: the file is created there, empty, so that nobody else can take
  // the name before it is used; it is deleted like any other. When no
  // unique file can be made the path stays empty. Returns the new path.
  const char* Assign(std::string path);
};

#endif  // TICKORA_SERIES_TEMP_FILE_H_
