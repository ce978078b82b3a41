#include "series/temp_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"

namespace fs = std::filesystem;

TEST(TempFileTest, DeletesTheFileItGuardsWhenDestroyedOrReassigned) {
  TempDir dir;
  const std::string first = dir.Sub("first"), second = dir.Sub("second");
  std::ofstream(first) << "x";
  std::ofstream(second) << "x";
  {
    CTempFile file(first);
    EXPECT_STREQ(second.c_str(), file.Assign(second));
    EXPECT_FALSE(fs::exists(first));
    EXPECT_TRUE(fs::exists(second));
  }
  EXPECT_FALSE(fs::exists(second));
}

TEST(TempFileTest, AssignWithAnEmptyPathMakesAUniqueTemporaryFile) {
  TempDir dir;
  ScopedEnv tmpdir("TMPDIR", dir.path().c_str());
  std::string made;
  {
    CTempFile file, other;
    made = file.Assign("");
    EXPECT_EQ(dir.path(), fs::path(made).parent_path());
    EXPECT_TRUE(fs::exists(made));
    EXPECT_NE(made, std::string(other.Assign("")));
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}
