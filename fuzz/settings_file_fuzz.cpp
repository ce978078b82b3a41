// Feeds arbitrary bytes to CCsvFile and CSettingsFile as a settings file.
// Besides the sanitizers' checks it stops on any broken promise of the
// readers: a load of a readable file that fails; a field holding a line
// end; a load of a missing file or a folder that succeeds, keeps rows or
// sections, or changes the document's path; a document whose rows, saved and loaded again, are not the same
// rows; a settings file whose sections and lists, saved and loaded again,
// are not the same (a key set after loading included), or whose second
// save differs from its first.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_files.h"
#include "support/csv_file.h"
#include "support/settings_file.h"

using fuzz::Check;
using fuzz::ReadBytes;
using fuzz::TempPath;
using fuzz::WriteBytes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath("settings.ini");
  static const std::string first = TempPath("settings-a.ini");
  static const std::string second = TempPath("settings-b.ini");
  if (!WriteBytes(input, data, size)) return 0;

  CCsvFile document;
  Check(document.Load(input));
  for (const CCsvFile::Row& row : document.GetRows()) {
    for (const CValue& field : row) {
      Check(field.IsNull() || (field.IsText() &&
                               field.Text().find_first_of("\r\n") ==
                                   std::string::npos));
    }
  }
  const CCsvFile::Rows rows = document.GetRows();
  fuzz::Fresh(first);
  Check(document.Save(first));
  CCsvFile again;
  Check(again.Load(first));
  Check(again.GetRows() == rows);
  // A missing file and a folder (which opens but cannot be read) fail,
  // leave no rows and keep the path of the last file loaded.
  Check(!again.Load(input + ".none") && again.GetRows().empty() && again.GetPath() == first);
  Check(again.Load(first) && !again.Load("/") && again.GetRows().empty() &&
        again.GetPath() == first);

  CSettingsFile& settings = CSettingsFile::Instance();
  Check(settings.Load(input));
  settings.Section("fuzz")["set"] = CValue("after loading");  // saved as well
  const auto sections = settings.Sections();
  const auto lists = settings.Lists();
  fuzz::Fresh(first);
  Check(settings.Save(first));
  Check(settings.Load(first));
  Check(settings.Sections() == sections && settings.Lists() == lists);
  fuzz::Fresh(second);
  Check(settings.Save(second));
  Check(ReadBytes(first) == ReadBytes(second));
  Check(!settings.Load(input + ".none"));
  Check(settings.Sections().empty() && settings.Lists().empty());
  return 0;
}
