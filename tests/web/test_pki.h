#ifndef TICKORA_TESTS_WEB_TEST_PKI_H_
#define TICKORA_TESTS_WEB_TEST_PKI_H_

#include <string>

// Certificates made at run time for the HTTPS tests, written as PEM files
// into `folder`: a test certificate authority, a server certificate it
// signed for 127.0.0.1 and localhost, and a self-signed server
// certificate that nobody trusts. Keys are P-256.
struct TestPki {
  std::string caCert;         // the authority's certificate
  std::string serverCert;     // signed by the authority
  std::string serverKey;
  std::string strangerCert;   // self-signed, for the same names
  std::string strangerKey;
};

// False when OpenSSL could not make or write them.
bool MakeTestPki(const std::string& folder, TestPki& pki);

#endif  // TICKORA_TESTS_WEB_TEST_PKI_H_
