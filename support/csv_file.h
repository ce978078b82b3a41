#ifndef TICKORA_SUPPORT_CSV_FILE_H_
#define TICKORA_SUPPORT_CSV_FILE_H_

#include <string>
#include <vector>

#include "support/value.h"

// CCsvFile is a comma-separated document: rows of CValue fields in file
// order, and the path it was last loaded from or saved to. It owns its rows;
// callers edit them in place through GetRows() between Load and Save.
//
// Reading: a field that begins with a double quote is quoted; inside it ""
// stands for one quote, a lone quote ends the quoted part and the bytes after
// it up to the next comma or line end are dropped, except that a further
// double quote there adds one quote and quotes the field again
// ('"ab"cd"ef",g' reads as 'ab"ef' and 'g'). A double quote in a field that
// does not begin with one is an ordinary byte. Fields never span lines: a line end always ends the
// field and the row. A CR LF pair is one line end, a lone CR or LF is one
// each. Every field becomes a text value, except "(null)", which is null.
// Any bytes load; only an unopenable or unreadable path fails.
//
// Writing: fields joined by ",", each row ending with "\n". A field whose
// text holds a comma or a double quote is quoted with its quotes doubled. A
// CR or LF inside a field cannot be represented and would split the row.
//
// Results are booleans: false means nothing usable was read, or the file on
// disk was left as it was.
class CCsvFile {
 public:
  using Row = std::vector<CValue>;
  using Rows = std::vector<Row>;

  CCsvFile() = default;

  // Clears the rows and reads the file at `path`. False when the path cannot
  // be opened or read (the rows are then empty and the stored path stays as
  // it was); true otherwise, with the path stored.
  [[nodiscard]] bool Load(const std::string& path);

  // Stores `path` as the document's path, then saves to it.
  [[nodiscard]] bool Save(const std::string& path);
  // Writes every row to the file at the stored path. The file may belong
  // to another program as much as to this one, so its own permissions
  // decide: a file that cannot be opened for writing is refused and left as
  // it is, and a writable one is written even when its folder is not.
  // Links keep naming the file: a symbolic link is followed, and a file
  // with hard links is written in place. Where it changes nothing else
  // about the file (one name, owned by the user saving, no access control
  // list, a folder that takes a new file), the rows go to a new file in the
  // same folder that then replaces the old one with its permission bits and
  // group, so a failed save leaves the old file whole; otherwise the file
  // itself is rewritten and cut to its new length. A missing file is
  // created. False when there is no stored path, the path names something
  // other than a regular file (a folder, a device), or the file cannot be
  // opened, written or moved into place.
  [[nodiscard]] bool Save();

  Rows& GetRows() { return rows_; }
  const Rows& GetRows() const { return rows_; }
  const std::string& GetPath() const { return path_; }

 private:
  Rows rows_;
  std::string path_;
};

#endif  // TICKORA_SUPPORT_CSV_FILE_H_
