#ifndef TICKORA_TESTS_WEB_ARCHIVE_TEST_UTIL_H_
#define TICKORA_TESTS_WEB_ARCHIVE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/common/local_server.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/market_sim/sim_test_market.h"
#include "tools/market-sim/sim_server.h"
#include "web/web_archive.h"

// What the tests of the archive client and the market data source share.

inline const CDate kToday(2024, 6, 19);  // the small market's today, a Wednesday

inline CLocalClock At(const CDate& date, int hour, int minute) {
  return [=] { return CLocalTime{date, hour, minute}; };
}

// A bar as an archive price file carries it: float32 values, no raw close.
inline CDayRecord AsInFile(CDayRecord bar) {
  for (double* v : {&bar.open, &bar.high, &bar.low, &bar.close, &bar.volume}) *v = static_cast<float>(*v);
  bar.rawClose = 0;
  return bar;
}

// The archive's private folders under `root` ("name/") and the files in
// them ("name/file").
inline std::set<std::string> ArchiveFiles(const std::string& root) {
  std::set<std::string> files;
  for (const auto& folder : std::filesystem::directory_iterator(root)) {
    const std::string name = folder.path().filename().string();
    if (!name.starts_with("tickora-archive-")) continue;
    files.insert(name + "/");
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
      files.insert(name + "/" + entry.path().filename().string());
    }
  }
  return files;
}

// The small simulated market served in-process, every site address pointed
// at it, and the temporary directory at a folder of the test's own.
class SimMarketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    for (const auto& [name, value] : server_.Environment()) {
      sites_.push_back(std::make_unique<ScopedEnv>(name.c_str(), value.c_str()));
    }
  }
  std::unique_ptr<CWebArchive> Make(CLocalClock clock = At(kToday, 16, 0)) {
    auto archive = std::make_unique<CWebArchive>(std::move(clock));
    archive->Client().SetRetryPause(5);
    return archive;
  }
  int AddFault(const std::string& text) {
    CSimFault fault;
    EXPECT_TRUE(ParseSimFault(text, fault)) << text;
    return server_.AddFault(fault);
  }
  // The archive files asked for, in order.
  std::vector<std::string> Requested() const {
    std::vector<std::string> names;
    for (const CSimRequestRecord& r : server_.Requests()) {
      if (r.site == Site::kArchive) names.push_back(r.path.substr(strlen(CWebArchive::kPathPrefix)));
    }
    return names;
  }

  ScopedEnv noProxy_{"no_proxy", "*"};
  TempDir tmp_;
  ScopedEnv tmpdir_{"TMPDIR", tmp_.path().c_str()};
  std::vector<std::unique_ptr<ScopedEnv>> sites_;
  CSimServer server_{SmallMarket(), CSimServerOptions()};
};

// An archive server that answers every file with the gzip of `content` and
// notes each request's Accept-Encoding header.
class FixedArchive {
 public:
  explicit FixedArchive(const std::string& content) {
    EXPECT_TRUE(CSimArchive::Gzip(content, gzip_));
    local_.server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex_);
      accept_.push_back(request.get_header_value("Accept-Encoding"));
      response.set_content(gzip_, "application/octet-stream");
    });
    EXPECT_TRUE(local_.Start());
    url_.emplace("TICKORA_ARCHIVE_URL", local_.Url("").c_str());
  }
  std::vector<std::string> Accept() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accept_;
  }

 private:
  std::string gzip_;
  std::mutex mutex_;
  std::vector<std::string> accept_;
  std::optional<ScopedEnv> url_;
  LocalServer local_;  // stops first: its handler uses the members above
};

#endif  // TICKORA_TESTS_WEB_ARCHIVE_TEST_UTIL_H_
