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
  ScopedEnv xdg("XDG_CONFIG_HOME", "");
  {
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ("/home/u/.config/Zelvane/Tickora/Tickora.ini", SettingsFilePath());
  }
  ScopedEnv home("HOME", nullptr);
  EXPECT_EQ("", SettingsFilePath());
  EXPECT_EQ("", UserDataFolder());
}

TEST(AppPathsTest, TempFolderEndsWithSlashAndHonoursTmpdir) {
  ScopedEnv tmp("TMPDIR", "/var/tmp");
  EXPECT_EQ("/var/tmp/", TempFolder());
}
