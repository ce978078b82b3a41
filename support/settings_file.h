#ifndef TICKORA_SUPPORT_SETTINGS_FILE_H_
#define TICKORA_SUPPORT_SETTINGS_FILE_H_

#include <map>
#include <string>

#include "support/csv_file.h"
#include "support/value.h"

// CSettingsFile is the settings file that the charting application and the
// setup program share: a comma-separated document whose rows are grouped
// into key/value sections (header row "[name]") and list sections (header
// row "<name>").
//
// Instance() gives the process-wide one, created on first use and destroyed
// at process exit; a caller that only reads and writes the file once (a
// setup run) makes its own. Each owns the document and the two maps built
// from it; the references that Section and List return stay valid until
// the next Load. It has no lock: use it from one thread at a time.
//
// Names and keys are byte strings, case-sensitive, ordered byte by byte as
// unsigned bytes (a shorter prefix first). Load and Save return false when
// the file cannot be read or written; after a failed Load both maps are
// empty. Rows that belong to no section, and key/value rows without exactly
// two fields, are dropped on Load and therefore not written back.
class CSettingsFile {
 public:
  using Row = CCsvFile::Row;
  using Rows = CCsvFile::Rows;
  using Keys = std::map<std::string, CValue>;

  static CSettingsFile& Instance();

  CSettingsFile() = default;
  ~CSettingsFile() = default;
  CSettingsFile(const CSettingsFile&) = delete;
  CSettingsFile& operator=(const CSettingsFile&) = delete;

  // Empties both maps and reads the file at `path`. A section or list name
  // that occurs again replaces the earlier one whole; a key that occurs
  // again in a section replaces the earlier value.
  [[nodiscard]] bool Load(const std::string& path);

  // Rebuilds the document from the maps and writes it: every key/value
  // section in name order (header, one row per key in key order, an empty
  // row), then every list in name order (header, its rows, an empty row).
  // Without a path the file of the last successful Load is written.
  [[nodiscard]] bool Save(const std::string& path);
  [[nodiscard]] bool Save();

  // The keys of section `name`, created empty when there is none.
  Keys& Section(const std::string& name);
  // The rows of list section `name`, created empty when there is none.
  Rows& List(const std::string& name);

  const std::map<std::string, Keys>& Sections() const { return sections_; }
  const std::map<std::string, Rows>& Lists() const { return lists_; }

 private:
  void BuildMaps();
  void BuildRows();

  CCsvFile document_;
  std::map<std::string, Keys> sections_;
  std::map<std::string, Rows> lists_;
};

#endif  // TICKORA_SUPPORT_SETTINGS_FILE_H_
