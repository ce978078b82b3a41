#include "tools/market-sim/sim_server.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "series/buffer_file.h"
#include "series/buffer_string.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/market_sim/sim_test_market.h"
#include "web/http_client.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

const std::string kPrice = "/market/archive/v2/price-2023.bin";
const std::string kArchiveHeader = "Accept-Encoding: gzip, deflat";

class SimServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    client_.SetAttempts(1);
    client_.SetRetryPause(0);
    ASSERT_EQ(server_.Archive().Fetch("price-2023.bin", price_), 200);
  }

  // GET of a path of the archive site into a file; the result code, and
  // the body in `body`.
  int32_t Get(const std::string& path, std::string& body) {
    CBufferFile buffer(dir_.Sub("download"));
    const int32_t result =
        client_.Get(server_.BaseUrl(Site::kArchive) + path, buffer, {kArchiveHeader});
    body = ReadFile(dir_.Sub("download"));
    return result;
  }

  int AddFault(const std::string& text) {
    CSimFault fault;
    EXPECT_TRUE(ParseSimFault(text, fault)) << text;
    return server_.AddFault(fault);
  }

  ScopedEnv noProxy_{"no_proxy", "*"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "*"};
  TempDir dir_;
  CSimServer server_{SmallMarket(), CSimServerOptions()};
  CHttpClient client_;
  std::shared_ptr<const std::string> price_;
};

TEST_F(SimServerTest, ServesTheArchiveAndLogsEveryRequest) {
  std::string body;
  EXPECT_EQ(Get(kPrice, body), 0);
  EXPECT_EQ(body, *price_);  // the gzip file itself, not encoded again
  EXPECT_EQ(Get("/market/archive/v2/price-2024.bin", body), -404);
  EXPECT_EQ(Get("/market/other/price-2023.bin", body), -404);
  // Each site has its own port: the archive's path is unknown elsewhere.
  CBufferString page;
  EXPECT_EQ(client_.Get(server_.BaseUrl(Site::kFinance) + kPrice, page), -404);

  const std::vector<CSimRequestRecord> log = server_.Requests();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_TRUE(log[0].site == Site::kArchive && log[0].method == "GET" && log[0].path == kPrice &&
              log[0].status == 200 && log[0].timeMs > 0);
  EXPECT_EQ(log[1].status, 404);
  EXPECT_EQ(log[3].site, Site::kFinance);
  server_.ClearRequests();
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(SimServerTest, FaultsBehaveAsAsked) {
  std::string body;
  // Requests as the log counts them.
  struct Case { const char* fault; int attempts; int32_t result; size_t requests; };
  const Case cases[] = {
      {"status=503@/market/archive/*", 1, -503, 1},
      {"fail-first=2@archive:/market/archive/v2/price-2023.bin", 3, 0, 3},
      {"fail-first=1/404@/market/archive/v2/price-2023.bin", 2, -404, 1},  // 404 is final
      {"redirect=3@/market/archive/v2/price-2023.bin", 1, 0, 4},
      {"redirect-loop@/market/archive/v2/price-2023.bin", 1,
       CHttpClient::kErrorTooManyRedirects, CHttpClient::kMaxRedirects + 1},
      {"status=500@finance:/market/archive/v2/price-2023.bin", 1, 0, 1},  // other site
      {"status=500@/market/archive/v2/price-2023.bin?x=1", 1, 0, 1},      // other query
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const int id = AddFault(c.fault);
    client_.SetAttempts(c.attempts);
    EXPECT_EQ(Get(kPrice, body), c.result);
    EXPECT_TRUE(c.result != 0 || body == *price_);
    EXPECT_EQ(server_.Requests().size(), c.requests);
    EXPECT_TRUE(server_.RemoveFault(id));
    server_.ClearRequests();
  }

  // A cut body: the client sees the body end early and keeps none of it.
  const int cut = AddFault("cut=1000@archive:/market/archive/v2/price-2023.bin");
  EXPECT_EQ(Get(kPrice, body), CHttpClient::kErrorSend);
  EXPECT_EQ(body, "");
  EXPECT_EQ(server_.FaultHits(cut), 1);
  server_.RemoveFault(cut);

  // A corrupt gzip: a gzip header, then bytes that do not inflate.
  AddFault("corrupt-gzip@/market/archive/v2/*");
  EXPECT_EQ(Get(kPrice, body), 0);
  ASSERT_EQ(body.size(), price_->size());
  EXPECT_EQ(body.substr(0, 10), price_->substr(0, 10));
  std::string unpacked;
  EXPECT_FALSE(Gunzip(body, unpacked));
  server_.ClearFaults();
  EXPECT_EQ(Get(kPrice, body), 0);
  EXPECT_EQ(body, *price_);
}

TEST_F(SimServerTest, HeldRequestEndsWhenTheServerStops) {
  const int id = AddFault("hang@/market/archive/v2/price-2023.bin");
  int32_t result = 1;
  std::thread request([&] {
    std::string body;
    result = Get(kPrice, body);
  });
  // Bounded wait for the request to arrive; no time is asserted.
  for (int i = 0; i < 10000 && server_.FaultHits(id) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(server_.FaultHits(id), 1);
  EXPECT_EQ(result, 1);  // still held
  server_.Stop();
  request.join();
  EXPECT_EQ(result, -503);
}

TEST_F(SimServerTest, LogEndpointRecordsEachPost) {
  const std::string url = server_.BaseUrl(Site::kLog) + CSimServer::kLogPath;
  CHttpClient::CCGIParams params;
  params.Add("MAC", "00:11:22:AA:BB:CC");
  params.Add("MOD", "setup 2&x=y");
  params.Add("MODDT", "");
  params.Add("EVENT", "SetupComplete");
  CBufferString answer;
  EXPECT_EQ(client_.Post(url, {}, params, answer), 0);
  EXPECT_EQ(client_.Get(url, answer), -405);
  EXPECT_EQ(client_.Post(server_.BaseUrl(Site::kLog) + "/cgi-bin/other.pl", {}, params, answer),
            -404);
  const std::vector<CSimLogPost> posts = server_.LogPosts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].fields, params.Entries());
  EXPECT_EQ(server_.Requests()[0].method, "POST");
}

TEST(SimServerTlsTest, HttpsSitesAreTrustedThroughTheCaFile) {
  ScopedEnv noProxy("no_proxy", "*");
  TempDir dir;
  CSimServerOptions options;
  options.https = true;
  options.certFolder = dir.Sub("tls");
  CSimServer server(SmallMarket(), options);
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(server.CaFile(), dir.Sub("tls") + "/ca.pem");
  EXPECT_EQ(server.BaseUrl(Site::kArchive).rfind("http://127.0.0.1:", 0), 0u);
  EXPECT_EQ(server.BaseUrl(Site::kLog).rfind("https://127.0.0.1:", 0), 0u);
  const auto env = server.Environment();
  ASSERT_EQ(env.size(), SiteSettings().size() + 1);
  EXPECT_EQ(env.back(), std::make_pair(std::string(kExtraCaFileVariable), server.CaFile()));

  CHttpClient client;
  client.SetAttempts(1);
  client.SetRetryPause(0);
  CHttpClient::CCGIParams params;
  params.Add("EVENT", "SetupComplete");
  CBufferString answer;
  const std::string url = server.BaseUrl(Site::kLog) + CSimServer::kLogPath;
  EXPECT_EQ(client.Post(url, {}, params, answer), CHttpClient::kErrorCertificate);  // untrusted
  ScopedEnv ca(kExtraCaFileVariable, server.CaFile().c_str());
  EXPECT_EQ(client.Post(url, {}, params, answer), 0);
  EXPECT_EQ(server.LogPosts().size(), 1u);
}

TEST(SimServerStartTest, TakenPortBaseFailsTheStart) {
  CSimServer first(SmallMarket(), CSimServerOptions());
  ASSERT_TRUE(first.Start());
  CSimServerOptions options;
  options.portBase = first.Port(Site::kArchive);
  CSimServer second(SmallMarket(), options);
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find(std::to_string(options.portBase)), std::string::npos) << error;
}

TEST(SimFaultTest, ParsesTheCommandLineForm) {
  CSimFault f;
  ASSERT_TRUE(ParseSimFault("fail-first=3/502@stock-list:/list*", f));
  EXPECT_TRUE(f.kind == CSimFault::Kind::kFailFirst && f.count == 3 && f.status == 502 &&
              f.site == Site::kStockList && f.path == "/list" && f.prefix);
  ASSERT_TRUE(ParseSimFault("cut=0@/a?b=c:d", f));
  EXPECT_TRUE(f.kind == CSimFault::Kind::kCutBody && f.bytes == 0 && !f.site && f.path == "/a?b=c:d" &&
              !f.prefix);
  ASSERT_TRUE(ParseSimFault("altered@broker-futures:/", f));
  EXPECT_EQ(f.kind, CSimFault::Kind::kAlteredStructure);
  for (const char* bad : {"status=404", "status=99@/a", "status=@/a", "hang=1@/a", "cut=-1@/a",
                          "redirect=0@/a", "delay=5@nowhere:/a", "stall@/a", "status=404@a",
                          "fail-first=2/@/a"}) {
    EXPECT_FALSE(ParseSimFault(bad, f)) << bad;
  }
}

}  // namespace
