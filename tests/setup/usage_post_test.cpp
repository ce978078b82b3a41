#include <gtest/gtest.h>

#include <string>

#include "setup/setup_run.h"
#include "tests/common/raw_http_server.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"

namespace {

// A run whose steps all succeed at once and which keeps the driver's own
// usage post.
class PostingRun : public CSetupRun {
 public:
  using CSetupRun::CSetupRun;

 protected:
  bool InitDatabase(WorkerProgress&) override { return true; }
  bool DownloadIssues(WorkerProgress&) override { return true; }
  bool DownloadSplits(WorkerProgress&) override { return true; }
  bool DownloadPrices(WorkerProgress&) override { return true; }
  bool DownloadMargins(WorkerProgress&) override { return true; }
  bool LoadIssueList(WorkerProgress&) override { return true; }
  void SetArchivePreference(bool) override {}
};

}  // namespace

TEST(UsagePostTest, AFinishedRunPostsTheUsageRecordAndStaysSuccessful) {
  TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.Sub("config").c_str());
  ScopedEnv no_proxy("no_proxy", "*");
  RawHttpServer server([](RawHttpServer&, int socket, const std::string&) {
    RawHttpServer::Send(socket, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  });
  ScopedEnv log("TICKORA_LOG_URL", server.Base().c_str());
  CRunChoices choices;
  choices.databaseFolder = dir.Sub("db");
  PostingRun run(&choices);
  WorkerProgress progress;
  run.Run(progress);
  EXPECT_EQ(5, progress.stage);
  EXPECT_EQ("", progress.Error());
  ASSERT_EQ(1u, server.Requests().size());
  const std::string request = server.Requests()[0];
  EXPECT_EQ(0u, request.find("POST /cgi-bin/postlog.pl HTTP/1.1\r\n"));
  EXPECT_NE(std::string::npos, request.find("&EVENT=SetupComplete"));
  EXPECT_NE(std::string::npos, request.find("&MOD=tickora_setup_tests&"));
}
