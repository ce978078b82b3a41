#include <gtest/gtest.h>

#include <string>

#include "series/buffer_string.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/market_sim/sim_test_market.h"
#include "tools/market-sim/sim_server.h"
#include "web/http_client.h"
#include "web/site_urls.h"

TEST(HttpsTest, OnlyAServerCertifiedForTheAddressByATrustedAuthorityIsAccepted) {
  ScopedEnv noProxy("no_proxy", "*"), noProxyUpper("NO_PROXY", "*");
  TempDir dir;
  const std::string missing = dir.Sub("missing.pem");
  const std::string page = "/market_jp/stock_list/price/all/all/1";
  // `names`: those of the server's certificate; `ca`: the extra authority
  // file (the server's own when empty, none when null); `hellos` of three
  // attempts (-1: not counted): a certificate is not tried again.
  const struct { const char* names; const char* ca; int32_t code; int hellos; } cases[] = {
      {"IP:127.0.0.1", "", 0, 1},
      {"IP:127.0.0.1", nullptr, CHttpClient::kErrorCertificate, 1},  // unknown to the system
      {"DNS:elsewhere.example", "", CHttpClient::kErrorCertificate, 1},  // for another name
      {"IP:127.0.0.1", missing.c_str(), CHttpClient::kErrorSession, -1},  // an unreadable file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.names) + " " + (c.ca ? c.ca : "no file"));
    CSimServer site(SmallMarket(), {.https = true, .certNames = c.names});
    ASSERT_TRUE(site.Start());
    const std::string ca = c.ca == nullptr ? "" : *c.ca ? c.ca : site.CaFile();
    ScopedEnv extra(kExtraCaFileVariable, c.ca ? ca.c_str() : nullptr);
    CHttpClient client;
    client.SetAttempts(3);
    client.SetRetryPause(0);
    CBufferString buffer;
    EXPECT_EQ(c.code, client.Get(site.BaseUrl(Site::kStockList) + page, buffer));
    if (c.hellos >= 0) {
      EXPECT_EQ(c.hellos, site.Counts(Site::kStockList).handshakes);
    }
    EXPECT_EQ(c.code == 0, *buffer.GetText() != '\0');  // nothing kept of a refused server
  }
  EXPECT_EQ("サーバーの証明書を検証できませんでした", CHttpClient::GetMessage(CHttpClient::kErrorCertificate));
}
