#include "series/issue_file_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "series/chart.h"
#include "series/chart_file.h"
#include "series/margin.h"
#include "series/margin_file.h"
#include "tests/common/temp_dir.h"

TEST(IssueFilePathTest, BuildsPathsForSafeCodesOnly) {
  std::string path;
  EXPECT_TRUE(BuildChartFilePath("/db/daily", "7203A", path));
  EXPECT_EQ("/db/daily/7203A.dat", path);
  EXPECT_TRUE(BuildMarginFilePath("/db/margin", "1301", path));
  EXPECT_EQ("/db/margin/mg1301.dat", path);
  EXPECT_TRUE(BuildChartFilePath("d", std::string(20, 'z'), path));
  const std::string refused[] = {
      "", "/", "..", ".", "../1301", "13/01", "1301/", std::string("13\0" "01", 5),
      std::string(21, '1'), "13 01", "1301.", "-1", "13\\01", "\x82\xa0", "1301\n",
  };
  for (const std::string& code : refused) {
    path = "old";
    EXPECT_FALSE(IsSafeIssueFileCode(code)) << code;
    EXPECT_FALSE(BuildChartFilePath("/db", code, path)) << code;
    EXPECT_EQ("", path) << code;
    EXPECT_FALSE(BuildMarginFilePath("/db", code, path)) << code;
  }
  EXPECT_FALSE(BuildChartFilePath("", "1301", path));  // would be "/1301.dat"
  EXPECT_FALSE(BuildChartFilePath(std::string("a\0b", 3), "1301", path));
}

// Refused codes reach neither the folder nor anything around it.
TEST(IssueFilePathTest, LoadersAndSaversRefuseUnsafeCodes) {
  TempDir root;
  const std::string folder = root.Sub("daily");
  std::filesystem::create_directory(folder);
  for (const std::string code : {"../escape", "", "..", "a/b"}) {
    CChart chart(1);
    chart[0].open = chart[0].high = chart[0].low = chart[0].close = 1;
    CMargin margin(1);
    EXPECT_EQ(-1, CChartSaverFile(folder.c_str(), code, false).Save(chart));
    EXPECT_EQ(-1, CChartSaverFile(folder.c_str(), code, true).Save(chart));
    EXPECT_EQ(-1, CMarginSaverFile(folder.c_str(), code).Save(margin));
    EXPECT_EQ(-1, CChartLoaderFile(folder.c_str(), code, 0).Load(chart));
    EXPECT_EQ(-1, CMarginLoaderFile(folder.c_str(), code, 0).Load(margin));
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(root.path()), {}));
}
