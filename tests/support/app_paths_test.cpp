#include "support/app_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/scoped_env.h"

TEST(AppPathsTest, ConfigHomeWinsOverHome) {
  ScopedEnv xdg("XDG_CONFIG_HOME", "/x/cfg");
  ScopedEnv home("HOME", "/home/u");
  EXPECT_EQ("/x/cfg/Zelvane/Tickora/Tickora.ini", SettingsFilePath());
  EXPECT_EQ("/x/cfg/Zelvane/Tickora/data", UserDataFolder());
}

TEST(AppPathsTest, FallsBackToHomeAndThenToNothing) {
  // An empty or relative XDG_CONFIG_HOME is no configuration folder: a
  // relative one would put the data folder that a finished run deletes
  // under whatever folder the program was started from.
  for (const char* ignored : {"", "cfg", "./cfg", ".."}) {
    ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ("/home/u/.config/Zelvane/Tickora/Tickora.ini", SettingsFilePath()) << ignored;
    EXPECT_EQ("/home/u/.config/Zelvane/Tickora/data", UserDataFolder()) << ignored;
  }
  ScopedEnv xdg("XDG_CONFIG_HOME", "");
  ScopedEnv home("HOME", nullptr);
  EXPECT_EQ("", SettingsFilePath());
  EXPECT_EQ("", UserDataFolder());
}

TEST(AppPathsTest, TempFolderEndsWithSlashAndHonoursTmpdir) {
  ScopedEnv tmp("TMPDIR", "/var/tmp");
  EXPECT_EQ("/var/tmp/", TempFolder());
}
