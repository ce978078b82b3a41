#include <gtest/gtest.h>

#include <string>

#include "tests/common/scoped_env.h"
#include "web/http_client.h"
#include "web/site_urls.h"
#include "web/url_encode.h"
#include "web/url_parts.h"

namespace {

int Hex(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

std::string FormDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%') {
      out.push_back(static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

TEST(UrlEncodeTest, EncodesFormPairsInOrder) {
  CHttpClient::CCGIParams params;
  EXPECT_EQ("", params.EncodeForm());
  params.Add("a b", "x/y");
  params.Add("c", "*-.@_");
  EXPECT_EQ("a+b=x%2Fy&c=*-.@_", params.EncodeForm());
  params.Add("c", "");  // duplicates and empty values stay
  EXPECT_EQ("a+b=x%2Fy&c=*-.@_&c=", params.EncodeForm());
}

TEST(UrlEncodeTest, EveryByteRoundTripsAndOnlyTheSafeSetIsCopied) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string encoded = UrlEncode(all);
  EXPECT_EQ(all, FormDecode(encoded));
  for (char c : encoded) {
    const bool allowed = std::isalnum(static_cast<unsigned char>(c)) ||
                         std::string("*-.@_+%").find(c) != std::string::npos;
    EXPECT_TRUE(allowed) << static_cast<int>(c);
  }
  // CP932 text goes byte by byte, with upper-case digits.
  EXPECT_EQ("%8C%9F%8D%F5", UrlEncode("検索"));
  EXPECT_EQ("%00%FF%7E%25%2B", UrlEncode(std::string("\0\xff~%+", 5)));
}

TEST(UrlPartsTest, TakesSchemeHostPortPathAndQuery) {
  CUrlParts parts;
  ASSERT_TRUE(parts.Parse("HTTPS://Example.test/quote/%5EDJI"));
  EXPECT_EQ(1, parts.secure);
  EXPECT_EQ(443, parts.port);
  EXPECT_EQ("Example.test", parts.host);
  EXPECT_EQ("/quote/%5EDJI", parts.path);  // escapes stay as written
  EXPECT_EQ("", parts.query);

  ASSERT_TRUE(parts.Parse("http://127.0.0.1:8080/q?code=1301&x=%2F"));
  EXPECT_EQ(0, parts.secure);
  EXPECT_EQ(8080, parts.port);
  EXPECT_EQ("/q", parts.path);
  EXPECT_EQ("?code=1301&x=%2F", parts.query);
  EXPECT_EQ("http://127.0.0.1:8080/q?code=1301&x=%2F", parts.Compose());

  ASSERT_TRUE(parts.Parse("http://host?a=1?b=2#f"));
  EXPECT_EQ("/", parts.path);
  EXPECT_EQ("?a=1?b=2#f", parts.query);
  ASSERT_TRUE(parts.Parse("http://host/p#frag?x"));
  EXPECT_EQ("/p", parts.path);
  EXPECT_EQ("", parts.query);  // a fragment is not a query

  ASSERT_TRUE(parts.Parse("http://us%40r:p%3Ass@[::1]:81/"));
  EXPECT_EQ("us@r", parts.userName);
  EXPECT_EQ("p:ss", parts.password);
  EXPECT_EQ("[::1]", parts.host);
  EXPECT_EQ(81, parts.port);
  EXPECT_EQ("http://[::1]:81/", parts.Compose());  // no credentials

  ASSERT_TRUE(parts.Parse("http://host:/x"));  // empty port: the default
  EXPECT_EQ(80, parts.port);
  EXPECT_TRUE(parts.userName.empty());
}

TEST(UrlPartsTest, RefusesAnythingButACompleteHttpAddress) {
  CUrlParts parts;
  for (const char* url :
       {"", "/relative/path", "relative", "//host/path", "ftp://host/",
        "httpx://host/", "http:/host/", "http://", "http:///path",
        "http://host:0/", "http://host:65536/", "http://host:12a/",
        "http://[::1/", "http://[::1]x/", "http://host/a b", "http://host/\x01",
        "http://host/\x7f"}) {
    EXPECT_FALSE(parts.Parse(url)) << url;
  }
  EXPECT_TRUE(parts.Parse("http://host:65535/"));
}

TEST(UrlPartsTest, PartsAreLimitedAtTheirBoundaries) {
  CUrlParts parts;
  const std::string host255(255, 'h');
  EXPECT_TRUE(parts.Parse("http://" + host255 + "/"));
  EXPECT_FALSE(parts.Parse("http://" + host255 + "h/"));
  EXPECT_TRUE(parts.Parse("http://h/" + std::string(254, 'p')));
  EXPECT_FALSE(parts.Parse("http://h/" + std::string(255, 'p')));
  EXPECT_TRUE(parts.Parse("http://h/?" + std::string(2046, 'q')));
  EXPECT_FALSE(parts.Parse("http://h/?" + std::string(2047, 'q')));
  EXPECT_FALSE(parts.Parse("http://" + std::string(256, 'u') + "@h/"));
}

TEST(SiteUrlsTest, VariablesOverrideTheDefaultsWithoutTrailingSlashes) {
  const auto& settings = SiteSettings();
  ASSERT_EQ(11u, settings.size());
  for (size_t i = 0; i < settings.size(); ++i) {
    EXPECT_EQ(static_cast<size_t>(settings[i].site), i);
    ScopedEnv unset(settings[i].variable, nullptr);
    const std::string base = SiteUrl(settings[i].site);
    EXPECT_EQ(settings[i].defaultBase, base);
    CUrlParts parts;
    EXPECT_TRUE(parts.Parse(base + "/")) << base;
  }
  EXPECT_EQ("http", SiteUrl(Site::kArchive).substr(0, 4));
  EXPECT_EQ("https:", SiteUrl(Site::kLog).substr(0, 6));
  EXPECT_EQ("http:", SiteUrl(Site::kFinanceStocks).substr(0, 5));
  {
    ScopedEnv set("TICKORA_ARCHIVE_URL", "http://127.0.0.1:9/");
    EXPECT_EQ("http://127.0.0.1:9/market/archive/v2/x.gz",
              SiteAddress(Site::kArchive, "/market/archive/v2/x.gz"));
  }
  ScopedEnv empty("TICKORA_LOG_URL", "");
  EXPECT_EQ(settings[1].defaultBase, SiteUrl(Site::kLog));
  ScopedEnv ca(kExtraCaFileVariable, "/tmp/ca.pem");
  EXPECT_EQ("/tmp/ca.pem", ExtraCaFile());
}
