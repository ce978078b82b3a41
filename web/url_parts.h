#ifndef TICKORA_WEB_URL_PARTS_H_
#define TICKORA_WEB_URL_PARTS_H_

#include <cstdint>
#include <string>

// CUrlParts is a complete http or https address taken apart: what the HTTP
// client needs to connect and to name the object it asks for. The client
// fills one per request and refills it at every redirection.
//
// Parse accepts only complete addresses, "scheme://authority[path][?query]",
// whose scheme is "http" or "https" in any case. It fails for anything else:
// a relative address, another scheme, an empty host, a bad port, a byte
// that no address may hold (a blank, a control byte), or a part longer
// than its limit (scheme, host, user name, password and path 255 bytes
// each, query 2047 bytes).
//
// The path and the query are kept exactly as written, escapes included, so
// the server receives what the caller wrote. Only the user name and the
// password, which travel outside the request line, have their %XX escapes
// decoded.
struct CUrlParts {
  static constexpr size_t kMaxPart = 255;
  static constexpr size_t kMaxQuery = 2047;

  // Replaces every part from `url`. False, with the parts unspecified, when
  // the text is not a complete http or https address.
  [[nodiscard]] bool Parse(const std::string& url);

  // Replaces the parts with the address that `reference` names when it is
  // read against the current one, as a browser follows a link: a complete
  // address stands for itself (as Parse takes it); "//authority/path"
  // keeps only the scheme; "/path" keeps the scheme, the authority and its
  // user name and password; "?query" keeps the path too; a text without a
  // fragment "#..." alone keeps even the query; any other text is a path
  // relative to the folder of the current path. The path of a reference
  // without a scheme has its "." and ".." segments worked out. False, with
  // the parts unchanged, for an empty reference and when the result is not
  // an address Parse would take (another scheme, a blank, a part too long).
  [[nodiscard]] bool Resolve(const std::string& reference);

  // The address libcurl is given: lower-case scheme, host, the port always
  // written out, then path and query. No user name or password.
  std::string Compose() const;

  int32_t secure = 0;   // 0 for http, 1 for https
  uint16_t port = 0;    // as written, else 80 or 443
  std::string host;     // an IPv6 literal keeps its brackets
  std::string userName;
  std::string password;
  std::string path;     // starts with "/"; "/" when the address has none
  std::string query;    // from the first "?" to the end; empty when none
};

#endif  // TICKORA_WEB_URL_PARTS_H_
