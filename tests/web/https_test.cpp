#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/web/local_server.h"
#include "tests/web/recording_buffer.h"
#include "tests/web/test_pki.h"
#include "web/http_client.h"
#include "web/site_urls.h"

namespace {

class HttpsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    pki_ = new TestPki;
    made_ = MakeTestPki(dir_->path().string(), *pki_);
  }
  static void TearDownTestSuite() {
    delete pki_;
    delete dir_;
  }

  void SetUp() override {
    ASSERT_TRUE(made_);
    client_.SetAttempts(2);
    client_.SetRetryPause(0);
  }

  // A TLS server answering "/hello" with the given certificate.
  std::unique_ptr<LocalServer> Serve(const std::string& cert, const std::string& key) {
    auto server = std::make_unique<LocalServer>(cert, key);
    server->server().Get("/hello", [this](const httplib::Request&, httplib::Response& res) {
      ++hits_;
      res.set_content("secure hello", "text/plain");
    });
    EXPECT_TRUE(server->Start());
    return server;
  }

  static TempDir* dir_;
  static TestPki* pki_;
  static bool made_;
  NoProxy noProxy_;
  int hits_ = 0;
  CHttpClient client_;
};

TempDir* HttpsTest::dir_ = nullptr;
TestPki* HttpsTest::pki_ = nullptr;
bool HttpsTest::made_ = false;

}  // namespace

TEST_F(HttpsTest, AServerSignedByTheExtraAuthorityIsTrusted) {
  ScopedEnv ca(kExtraCaFileVariable, pki_->caCert.c_str());
  auto server = Serve(pki_->serverCert, pki_->serverKey);
  RecordingBuffer buffer;
  EXPECT_EQ(0, client_.Get(server->Url("/hello"), buffer));
  EXPECT_EQ("secure hello", buffer.bytes);
  // Scheme in capitals, host by name: still secure and verified.
  const std::string by_name = "HTTPS://localhost:" + server->Base().substr(server->Base().rfind(':') + 1);
  EXPECT_EQ(0, client_.Get(by_name + "/hello", buffer));
  EXPECT_EQ(2, hits_);
}

TEST_F(HttpsTest, UntrustedCertificatesAreRefused) {
  RecordingBuffer buffer;
  {
    // The test authority is unknown to the system.
    ScopedEnv ca(kExtraCaFileVariable, nullptr);
    auto server = Serve(pki_->serverCert, pki_->serverKey);
    EXPECT_EQ(CHttpClient::kErrorConnect, client_.Get(server->Url("/hello"), buffer));
  }
  {
    // A self-signed certificate, whatever authority is added.
    ScopedEnv ca(kExtraCaFileVariable, pki_->caCert.c_str());
    auto server = Serve(pki_->strangerCert, pki_->strangerKey);
    EXPECT_EQ(CHttpClient::kErrorConnect, client_.Get(server->Url("/hello"), buffer));
  }
  {
    // Trusted for 127.0.0.1 and localhost only.
    ScopedEnv ca(kExtraCaFileVariable, pki_->caCert.c_str());
    auto server = Serve(pki_->serverCert, pki_->serverKey);
    const std::string port = server->Base().substr(server->Base().rfind(':') + 1);
    EXPECT_EQ(CHttpClient::kErrorConnect,
              client_.Get("https://127.0.0.2:" + port + "/hello", buffer));
  }
  EXPECT_EQ(0, hits_);
  EXPECT_EQ(0, buffer.opens);
}

TEST_F(HttpsTest, AnUnreadableAuthorityFileFailsTheSetupWithoutRetry) {
  ScopedEnv ca(kExtraCaFileVariable, (dir_->path() / "missing.pem").c_str());
  auto server = Serve(pki_->serverCert, pki_->serverKey);
  RecordingBuffer buffer;
  EXPECT_EQ(CHttpClient::kErrorSession, client_.Get(server->Url("/hello"), buffer));
  EXPECT_FALSE(CHttpClient::IsTransient(CHttpClient::kErrorSession));
  EXPECT_EQ(0, hits_);
}
