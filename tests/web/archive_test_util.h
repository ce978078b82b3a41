#ifndef TICKORA_TESTS_WEB_ARCHIVE_TEST_UTIL_H_
#define TICKORA_TESTS_WEB_ARCHIVE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
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

// What the tests of the archive client and the market data source share:
// the small simulated market served in-process with every site address
// pointed at it, the temporary directory pointed at a folder of the test's
// own, and an archive server that answers every file with fixed bytes.

inline const CDate kToday(2024, 6, 19);  // the small market's today, a Wednesday

inline CLocalClock At(const CDate& date, int hour, int minute) {
  return [=] { return CLocalTime{date, hour, minute}; };
}

// A bar as an archive price file carries it: float32 values, no raw close.
inline CDayRecord AsInFile(CDayRecord bar) {
  for (double* v : {&bar.open, &bar.high, &bar.low, &bar.close, &bar.volume}) {
    *v = static_cast<float>(*v);
  }
  bar.rawClose = 0;
  return bar;
}

// Every file in the archive's private folders under `root`
// ("tickora-archive-*"), as paths relative to `root`.
inline std::set<std::string> FilesUnder(const std::string& root) {
  std::set<std::string> files;
  for (const auto& folder : std::filesystem::directory_iterator(root)) {
    if (!folder.path().filename().string().starts_with("tickora-archive-")) continue;
    files.insert(std::filesystem::relative(folder.path(), root).string() + "/");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path())) {
      files.insert(std::filesystem::relative(entry.path(), root).string());
    }
  }
  return files;
}

// The archive files the server was asked for, in order.
inline std::vector<std::string> Requested(const CSimServer& server) {
  std::vector<std::string> names;
  for (const CSimRequestRecord& r : server.Requests()) {
    if (r.site == Site::kArchive) names.push_back(r.path.substr(strlen(CWebArchive::kPathPrefix)));
  }
  return names;
}

// A test against the small simulated market, with the temporary directory
// pointed at a folder of the test's own.
class WebArchiveTest : public ::testing::Test {
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

  // Files in the temporary directory other than the kept price and margin
  // years.
  std::set<std::string> Leftovers() const {
    std::set<std::string> files = FilesUnder(tmp_.path().string());
    std::erase_if(files, [](const std::string& f) {
      const std::string name = std::filesystem::path(f).filename().string();
      return f.back() == '/' || name.starts_with("tmpprice2") || name.starts_with("tmpmargin2");
    });
    return files;
  }

  ScopedEnv noProxy_{"no_proxy", "*"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "*"};
  TempDir tmp_;
  ScopedEnv tmpdir_{"TMPDIR", tmp_.path().c_str()};
  std::vector<std::unique_ptr<ScopedEnv>> sites_;
  CSimServer server_{SmallMarket(), CSimServerOptions()};
};

// An archive server of the test's own that answers every file with the
// gzip of `content` and notes each request's Accept-Encoding header.
class FixedArchive {
 public:
  explicit FixedArchive(std::string content) {
    EXPECT_TRUE(CSimArchive::Gzip(content, gzip_));
    local_.server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex_);
      paths_.push_back(request.path);
      accept_.push_back(request.get_header_value("Accept-Encoding"));
      response.set_content(gzip_, "application/octet-stream");
    });
    EXPECT_TRUE(local_.Start());
    url_.emplace("TICKORA_ARCHIVE_URL", local_.Url("").c_str());
  }
  size_t Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_.size();
  }
  std::vector<std::string> Accept() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accept_;
  }

 private:
  std::string gzip_;
  std::mutex mutex_;
  std::vector<std::string> paths_;
  std::vector<std::string> accept_;
  std::optional<ScopedEnv> url_;
  LocalServer local_;  // stops first: its handler uses the members above
};

#endif  // TICKORA_TESTS_WEB_ARCHIVE_TEST_UTIL_H_
