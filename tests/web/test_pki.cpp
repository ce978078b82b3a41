#include "tests/web/test_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

Key NewKey() { return Key(EVP_EC_gen("P-256"), &EVP_PKEY_free); }

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) return false;
  const bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

// A certificate for `key` named `name`, signed by `issuer_key` (the
// issuer's certificate, or null for a self-signed one).
Cert NewCert(const char* name, EVP_PKEY* key, X509* issuer,
             EVP_PKEY* issuer_key, bool authority, long serial) {
  Cert cert(X509_new(), &X509_free);
  X509* c = cert.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), 86400);
  X509_set_pubkey(c, key);
  X509_NAME* subject = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : subject);
  X509* signer = issuer ? issuer : c;
  bool ok = AddExtension(c, signer, NID_subject_key_identifier, "hash") &&
            AddExtension(c, signer, NID_authority_key_identifier, "keyid:always");
  if (authority) {
    ok = ok && AddExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE") &&
         AddExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    ok = ok && AddExtension(c, signer, NID_basic_constraints, "critical,CA:FALSE") &&
         AddExtension(c, signer, NID_key_usage, "critical,digitalSignature") &&
         AddExtension(c, signer, NID_ext_key_usage, "serverAuth") &&
         AddExtension(c, signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  }
  if (!ok || X509_sign(c, issuer_key, EVP_sha256()) == 0) return Cert(nullptr, &X509_free);
  return cert;
}

bool WriteCert(const std::string& path, X509* cert) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok = PEM_write_X509(f, cert) == 1;
  return std::fclose(f) == 0 && ok;
}

bool WriteKey(const std::string& path, EVP_PKEY* key) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok =
      PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

bool MakeTestPki(const std::string& folder, TestPki& pki) {
  Key ca_key = NewKey(), server_key = NewKey(), stranger_key = NewKey();
  if (!ca_key || !server_key || !stranger_key) return false;
  Cert ca = NewCert("Tickora Test CA", ca_key.get(), nullptr, ca_key.get(), true, 1);
  if (!ca) return false;
  Cert server = NewCert("127.0.0.1", server_key.get(), ca.get(), ca_key.get(), false, 2);
  Cert stranger = NewCert("127.0.0.1", stranger_key.get(), nullptr, stranger_key.get(), false, 3);
  if (!server || !stranger) return false;
  pki.caCert = folder + "/ca.pem";
  pki.serverCert = folder + "/server.pem";
  pki.serverKey = folder + "/server.key";
  pki.strangerCert = folder + "/stranger.pem";
  pki.strangerKey = folder + "/stranger.key";
  return WriteCert(pki.caCert, ca.get()) && WriteCert(pki.serverCert, server.get()) &&
         WriteKey(pki.serverKey, server_key.get()) &&
         WriteCert(pki.strangerCert, stranger.get()) &&
         WriteKey(pki.strangerKey, stranger_key.get());
}
