#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "tests/common/scoped_env.h"
#include "web/http_client.h"
#include "web/site_urls.h"
#include "web/url_encode.h"
#include "web/url_parts.h"

TEST(UrlEncodeTest, FormsEncodeEveryByteReversiblyWithOnlyTheSafeSetCopied) {
  CHttpClient::CCGIParams params;
  EXPECT_EQ("", params.EncodeForm());
  params.Add("a b", "x/y");
  params.Add("c", "*-.@_");
  params.Add("c", "");  // duplicates and empty values stay
  EXPECT_EQ("a+b=x%2Fy&c=*-.@_&c=", params.EncodeForm());
  EXPECT_EQ("%8C%9F%8D%F5", UrlEncode("検索"));  // CP932 byte by byte, upper-case digits

  // Each byte alone: letters, digits and "*-.@_" as they are, the
  // space as "+", the rest as "%" and two upper-case digits.
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    char escaped[4];
    std::snprintf(escaped, sizeof(escaped), "%%%02X", b);
    const bool safe = std::isalnum(b) || std::string("*-.@_").find(one) != std::string::npos;
    EXPECT_EQ(safe ? one : b == ' ' ? "+" : escaped, UrlEncode(one)) << b;
  }
}

TEST(UrlPartsTest, TakesSchemeHostPortPathAndQueryAsWrittenWithinTheLimits) {
  // secure, port, host, path, query, user, password and the address composed again
  const std::pair<const char*, const char*> cases[] = {
      {"HTTPS://Example.test/quote/%5EDJI", "1 443 Example.test /quote/%5EDJI |||https://Example.test:443/quote/%5EDJI"},
      {"http://127.0.0.1:8080/q?code=1301&x=%2F",
       "0 8080 127.0.0.1 /q ?code=1301&x=%2F|||http://127.0.0.1:8080/q?code=1301&x=%2F"},
      {"http://host?a=1?b=2#f", "0 80 host / ?a=1?b=2#f|||http://host:80/?a=1?b=2#f"},
      {"http://host/p#frag?x", "0 80 host /p |||http://host:80/p"},  // no query
      {"http://us%40r:p%3Ass@[::1]:81/", "0 81 [::1] / |us@r|p:ss|http://[::1]:81/"},
      {"http://host:/x", "0 80 host /x |||http://host:80/x"},
  };
  CUrlParts p;
  for (const auto& [url, expected] : cases) {
    ASSERT_TRUE(p.Parse(url)) << url;
    EXPECT_EQ(expected, std::to_string(p.secure) + " " + std::to_string(p.port) + " " + p.host + " " + p.path +
                            " " + p.query + "|" + p.userName + "|" + p.password + "|" + p.Compose());
  }
  // Only complete http addresses within the limits parse.
  const std::pair<std::string, bool> limits[] = {
      {"", false}, {"/relative/path", false}, {"relative", false}, {"//host/path", false},
      {"ftp://host/", false}, {"httpx://host/", false}, {"http:/host/", false},
      {"http://", false}, {"http:///path", false}, {"http://host:0/", false},
      {"http://host:65536/", false}, {"http://host:65535/", true}, {"http://host:12a/", false},
      {"http://[::1/", false}, {"http://[::1]x/", false}, {"http://host/a b", false},
      {"http://host/\x01", false}, {"http://host/\x7f", false},
      {"http://" + std::string(255, 'h') + "/", true}, {"http://" + std::string(256, 'h') + "/", false},
      {"http://h/" + std::string(254, 'p'), true}, {"http://h/" + std::string(255, 'p'), false},
      {"http://h/?" + std::string(2046, 'q'), true}, {"http://h/?" + std::string(2047, 'q'), false},
      {"http://" + std::string(256, 'u') + "@h/", false},
  };
  for (const auto& [url, ok] : limits) EXPECT_EQ(ok, p.Parse(url)) << url;
}

TEST(SiteUrlsTest, VariablesOverrideTheDefaultsWithoutTrailingSlashes) {
  const auto& settings = SiteSettings();
  ASSERT_EQ(11u, settings.size());
  for (size_t i = 0; i < settings.size(); ++i) {
    EXPECT_EQ(static_cast<size_t>(settings[i].site), i);
    ScopedEnv unset(settings[i].variable, nullptr);
    EXPECT_EQ(settings[i].defaultBase, SiteUrl(settings[i].site));
    EXPECT_TRUE(CUrlParts().Parse(SiteUrl(settings[i].site) + "/")) << settings[i].defaultBase;
  }
  {
    ScopedEnv set("TICKORA_ARCHIVE_URL", "http://127.0.0.1:9//");
    EXPECT_EQ("http://127.0.0.1:9/v2/x.gz", SiteAddress(Site::kArchive, "/v2/x.gz"));
  }
  ScopedEnv empty("TICKORA_LOG_URL", "");
  EXPECT_EQ(settings[1].defaultBase, SiteUrl(Site::kLog));
  ScopedEnv ca(kExtraCaFileVariable, "/tmp/ca.pem");
  EXPECT_EQ("/tmp/ca.pem", ExtraCaFile());
}

TEST(UrlPartsTest, ReferencesResolveAgainstTheCurrentAddress) {
  const std::string base = "http://u:p@h:81/a/b/c?q";
  const std::pair<std::string, const char*> cases[] = {
      {"https://X/y", "https://X:443/y"},
      {"//x:82/y?z", "http://x:82/y?z"},
      {"/new/path", "http://h:81/new/path"},
      {"/a%20b/./c/../d?x=%2F", "http://h:81/a%20b/d?x=%2F"},
      {"d/e", "http://h:81/a/b/d/e"},
      {"../d", "http://h:81/a/d"},
      {"../../../../d", "http://h:81/d"},
      {".", "http://h:81/a/b/"},
      {"..", "http://h:81/a/"},
      {"?x=1", "http://h:81/a/b/c?x=1"},
      {"#f", "http://h:81/a/b/c?q"},
      {"d#f?x", "http://h:81/a/b/d"},
      // Not resolvable: the address stays as it was.
      {"", nullptr}, {"//", nullptr}, {"///x", nullptr}, {"mailto:x@h", nullptr},
      {"ftp://h/", nullptr}, {"http:/x", nullptr}, {"/a b", nullptr}, {"x\x01", nullptr},
      {"/" + std::string(255, 'p'), nullptr}, {"?" + std::string(2047, 'q'), nullptr},
  };
  for (const auto& [reference, resolved] : cases) {
    CUrlParts parts;
    ASSERT_TRUE(parts.Parse(base));
    EXPECT_EQ(resolved != nullptr, parts.Resolve(reference)) << reference;
    EXPECT_EQ(resolved ? resolved : "http://h:81/a/b/c?q", parts.Compose()) << reference;
    // Only a reference that names another server drops the user name.
    const bool same_server = !resolved || std::string(resolved).starts_with("http://h:");
    EXPECT_EQ(same_server ? "u" : "", parts.userName) << reference;
  }
}
