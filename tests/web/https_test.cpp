#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "series/buffer_string.h"
#include "tests/common/local_server.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "web/http_client.h"
#include "web/site_urls.h"

namespace {

// A fresh P-256 key and its certificate.
struct Pem {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  ~Pem() {
    X509_free(cert);
    EVP_PKEY_free(key);
  }
};

// Makes `pem` an authority (no `names`) or a server certificate for
// `names`, signed by `ca` or by itself, and writes <path>.pem and
// <path>.key.
bool Certify(Pem& pem, const Pem* ca, const char* names, const std::string& path) {
  X509* c = pem.cert;
  X509* signer = ca ? ca->cert : c;
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), names ? 2 : 1);
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), 86400);
  X509_set_pubkey(c, pem.key);
  const char* cn = names ? "server" : "Tickora Test CA";
  X509_NAME_add_entry_by_txt(X509_get_subject_name(c), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(c, X509_get_subject_name(signer));
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, signer, c, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, names ? NID_subject_alt_name : NID_basic_constraints,
                                            names ? names : "critical,CA:TRUE");
  bool ok = ext && X509_add_ext(c, ext, -1) && X509_sign(c, ca ? ca->key : pem.key, EVP_sha256());
  X509_EXTENSION_free(ext);
  std::FILE* cert = std::fopen((path + ".pem").c_str(), "w");
  std::FILE* key = std::fopen((path + ".key").c_str(), "w");
  ok = ok && cert && key && PEM_write_X509(cert, c) &&
       PEM_write_PrivateKey(key, pem.key, nullptr, nullptr, 0, nullptr, nullptr);
  if (cert) std::fclose(cert);
  if (key) std::fclose(key);
  return ok;
}

// Client hellos the test servers received: one for each connection.
std::atomic<int> hellos{0};
int CountHello(SSL*, int*, void*) {
  ++hellos;
  return SSL_CLIENT_HELLO_SUCCESS;
}

}  // namespace

TEST(HttpsTest, OnlyAServerCertifiedForTheAddressByATrustedAuthorityIsAccepted) {
  TempDir dir;
  Pem ca, server, elsewhere;
  ASSERT_TRUE(Certify(ca, nullptr, nullptr, dir.Sub("ca")));
  ASSERT_TRUE(Certify(server, &ca, "IP:127.0.0.1", dir.Sub("server")));
  ASSERT_TRUE(Certify(elsewhere, &ca, "DNS:elsewhere.example", dir.Sub("elsewhere")));
  const std::string ca_file = dir.Sub("ca.pem"), missing = dir.Sub("missing.pem");
  // `ca`: the extra authority file, null for none; `hellos` of three
  // attempts (-1: not counted): a certificate is not tried again.
  const struct { const char* cert; const char* ca; int32_t code; int hellos; } cases[] = {
      {"server", ca_file.c_str(), 0, 1},
      {"server", nullptr, CHttpClient::kErrorCertificate, 1},  // unknown to the system
      {"elsewhere", ca_file.c_str(), CHttpClient::kErrorCertificate, 1},  // for another name
      {"server", missing.c_str(), CHttpClient::kErrorSession, -1},  // an unreadable file
  };
  for (const auto& c : cases) {
    ScopedEnv extra(kExtraCaFileVariable, c.ca);
    LocalServer site(dir.Sub(c.cert) + ".pem", dir.Sub(c.cert) + ".key");
    site.server->Get("/hello", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("secure hello", "text/plain");
    });
    SSL_CTX_set_client_hello_cb(static_cast<httplib::SSLServer&>(*site.server).ssl_context(),
                                &CountHello, nullptr);
    ASSERT_TRUE(site.Start());
    CHttpClient client;
    client.SetAttempts(3);
    client.SetRetryPause(0);
    CBufferString buffer;
    hellos = 0;
    EXPECT_EQ(c.code, client.Get(site.Url("/hello"), buffer)) << c.cert << " " << (c.ca ? c.ca : "");
    if (c.hellos >= 0) {
      EXPECT_EQ(c.hellos, hellos) << c.cert << " " << (c.ca ? c.ca : "");
    }
    EXPECT_STREQ(c.code == 0 ? "secure hello" : "", buffer.GetText());
  }
  EXPECT_EQ("サーバーの証明書を検証できませんでした", CHttpClient::GetMessage(CHttpClient::kErrorCertificate));
}
