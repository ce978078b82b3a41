#include "support/app_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/scoped_env.h"

// An empty or relative XDG_CONFIG_HOME is no configuration folder: a
// relative one would put the data folder that a finished run deletes under
// whatever folder the program was started from. Without HOME there is none.
TEST(AppPathsTest, ConfigHomeThenHomeThenNothing) {
  const struct { const char* xdg; const char* home; std::string folder; } kCases[] = {
      {"/x/cfg", "/home/u", "/x/cfg/Zelvane/Tickora"},
      {"", "/home/u", "/home/u/.config/Zelvane/Tickora"},
      {"cfg", "/home/u", "/home/u/.config/Zelvane/Tickora"},
      {"./cfg", "/home/u", "/home/u/.config/Zelvane/Tickora"},
      {"..", "/home/u", "/home/u/.config/Zelvane/Tickora"},
      {"", nullptr, ""}};
  for (const auto& c : kCases) {
    ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(c.folder.empty() ? "" : c.folder + "/Tickora.ini", SettingsFilePath()) << c.xdg;
    EXPECT_EQ(c.folder.empty() ? "" : c.folder + "/data", UserDataFolder()) << c.xdg;
  }
  ScopedEnv tmp("TMPDIR", "/var/tmp");
  EXPECT_EQ("/var/tmp/", TempFolder());  // ends with a slash
}
