#include "web/http_client.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "series/buffer_file.h"
#include "series/buffer_string.h"
#include "tests/common/monotonic_ms.h"
#include "tests/common/scripted_server.h"
#include "tests/common/temp_dir.h"
#include "tests/web/page_fixture.h"

namespace {

using Code = int32_t;

// A memory buffer that records every write and close, keeps the bytes
// (zero bytes too) and can refuse to open or to take any byte.
struct RecordingBuffer : CBufferString {
  bool refuseOpen = false, refuseBytes = false;
  int closes = 0;
  std::vector<int32_t> writes;
  std::string bytes;

  Handle OpenWrite() override { return refuseOpen ? nullptr : CBufferString::OpenWrite(); }
  void Close(Handle handle) override {
    ++closes;
    CBufferString::Close(handle);
  }
  bool Write(Handle handle, const char* data, int32_t length) override {
    if (refuseBytes && length > 0) return false;
    writes.push_back(length);
    bytes.append(data, static_cast<size_t>(length));
    return CBufferString::Write(handle, data, length);
  }
};

// A body whose bytes depend on their position, so that a lost, doubled or
// reordered piece shows.
std::string Pattern(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(i * 7 + i / 4096);
  return body;
}

// A cpp-httplib server on 127.0.0.1 at a free port, serving on a thread of
// its own until the test ends; any proxy of the environment is kept away.
class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    httplib::Server& s = server_;
    s.set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
      ++hits_;
      return httplib::Server::HandlerResponse::Unhandled;
    });
    s.Get("/empty", [](const httplib::Request&, httplib::Response&) {});
    s.Get("/large", [this](const httplib::Request&, httplib::Response& res) { res.set_content(large_, "x/y"); });
    s.Get("/silent", [this](const httplib::Request&, httplib::Response&) { while (!released_) usleep(1000); });
    // The status of the path; with "ok=N" the N-th request is answered.
    s.Get("/status/(\\d+)", [this](const httplib::Request& req, httplib::Response& res) {
      if (req.has_param("ok") && hits_ >= std::stoi(req.get_param_value("ok"))) {
        res.set_content("recovered", "text/plain");
      } else {
        res.status = std::stoi(req.matches[1]);
        res.set_content("a body that must not be kept", "text/plain");
      }
    });
    auto echo = [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.method + " " + req.target + "|" + req.body + "|" +
                          req.get_header_value("Content-Type") + "|" +
                          req.get_header_value("User-Agent") + "|" + req.get_header_value("X-Test"),
                      "text/plain");
    };
    s.Get("/echo.*", echo);
    s.Post("/echo.*", echo);
    // Status from the path, location from the parameter "to", given a query
    // of "q"s to "size" bytes.
    auto redirect = [](const httplib::Request& req, httplib::Response& res) {
      res.status = std::stoi(req.matches[1]);
      std::string to = req.get_param_value("to");
      if (req.has_param("size")) (to += "?").resize(std::stoul(req.get_param_value("size")), 'q');
      if (req.has_param("to")) res.set_header("Location", to);
    };
    s.Get("/redirect/(\\d+)", redirect);
    s.Post("/redirect/(\\d+)", redirect);
    // /chain/N redirects N times before it answers; /chain/-1 to itself.
    s.Get("/chain/(-?\\d+)", [this](const httplib::Request& req, httplib::Response& res) {
      const int left = std::stoi(req.matches[1]);
      if (left == 0) return res.set_content("end of chain", "text/plain");
      res.status = 302;
      res.set_header("Location", Url("/chain/" + std::to_string(left > 0 ? left - 1 : left)));
    });
    setenv("no_proxy", "*", 1);
    setenv("NO_PROXY", "*", 1);
    port_ = s.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([&s] { s.listen_after_bind(); });
    while (!s.is_running()) std::this_thread::yield();
    client_.SetRetryPause(1);
    client_.SetStallTimeout(1);
  }
  void TearDown() override {
    released_ = true;
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  std::string large_ = Pattern(2 * CHttpClient::kReceiveBufferSize + 123);
  std::atomic<int> hits_{0};
  std::atomic<bool> released_{false};
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  CHttpClient client_;
};

}  // namespace

// A body is streamed in pieces no larger than the receive buffer and ends
// with an empty write; only transient failures are tried again, and the
// body of an error answer is never written anywhere.
TEST_F(HttpClientTest, BodiesAndFailuresGiveTheCodeOfTheirCause) {
  std::string closed;
  {
    ScriptedServer gone({""}, false);
    ASSERT_TRUE(gone.Start());
    closed = gone.Url("/");
  }
  const std::string base = Url("");
  struct Case { std::string url; int attempts; Code code; int hits; std::string body; };
  const Case cases[] = {
      {base + "/large", 5, 0, 1, large_},     {base + "/empty", 5, 0, 1, ""},
      {base + "/status/404", 5, -404, 1, ""}, {base + "/status/503", 5, -503, 1, ""},
      {base + "/status/308", 5, -308, 1, ""}, {base + "/status/500", 5, -500, 5, ""},
      {base + "/status/500", 2, -500, 2, ""}, {base + "/status/500", 0, -500, 1, ""},
      {base + "/status/500?ok=3", 5, 0, 3, "recovered"},
      {base + "/silent", 2, CHttpClient::kErrorSend, 2, ""},
      {closed, 2, CHttpClient::kErrorConnect, 0, ""},
      {"ftp" + base.substr(4) + "/", 5, CHttpClient::kErrorAddress, 0, ""},
      {"/status/404", 5, CHttpClient::kErrorAddress, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    RecordingBuffer buffer;
    hits_ = 0;
    client_.SetAttempts(c.attempts);
    EXPECT_EQ(c.code, client_.Get(c.url, buffer));
    EXPECT_EQ(c.hits, hits_);
    EXPECT_TRUE(c.body == buffer.bytes);
    if (c.code != 0) continue;
    ASSERT_EQ(0, buffer.writes.empty() ? -1 : buffer.writes.back());
    EXPECT_LE(*std::max_element(buffer.writes.begin(), buffer.writes.end()),
              CHttpClient::kReceiveBufferSize);
    EXPECT_EQ(1, buffer.closes);
  }
  RecordingBuffer refusing;
  refusing.refuseOpen = true;
  EXPECT_EQ(CHttpClient::kErrorBufferOpen, client_.Get(Url("/large"), refusing));
  EXPECT_TRUE(refusing.writes.empty());
}

// Redirections keep verb, body and headers for ten hops at most; the
// request goes out as written and bad headers are refused before it.
TEST_F(HttpClientTest, RedirectionsAndRequestsGoOutAsWritten) {
  const std::string echo = Url("/echo");
  const std::string posted = "POST /echo|code=1301&name=a+b|application/x-www-form-urlencoded|CHttpClient|kept";
  const size_t limit = CHttpClient::kMaxLocation;
  auto sized = [&echo](size_t size) { return "/redirect/302?to=" + echo + "&size=" + std::to_string(size); };
  const std::vector<std::string> kept = {"X-Test: kept"};
  struct Case { std::string path; bool post; Code code; int hits; std::string bytes; std::vector<std::string> headers; };
  const Case cases[] = {
      {"/redirect/301?to=" + echo, true, 0, 2, posted, kept},
      {"/redirect/302?to=" + echo, true, 0, 2, posted, kept},
      {"/redirect/303?to=" + echo, true, 0, 2, posted, kept},
      {"/redirect/307?to=" + echo, true, 0, 2, posted, kept},
      {"/redirect/302?to=" + echo, false, 0, 2, "GET /echo|||CHttpClient|kept", kept},
      {sized(limit), false, 0, 2, "GET /echo?" + std::string(limit - echo.size() - 1, 'q') + "|||CHttpClient|kept", kept},
      {sized(limit + 1), false, CHttpClient::kErrorLocation, 1, "", kept},
      // Relative locations are read against the address that gave them.
      {"/redirect/307?to=/echo", true, 0, 2, posted, kept},
      {"/redirect/302?to=../echo%3Fa", false, 0, 2, "GET /echo?a|||CHttpClient|kept", kept},
      {"/redirect/302?to=" + echo.substr(5), false, 0, 2, "GET /echo|||CHttpClient|kept", kept},
      {"/redirect/302?to=%3Fx", false, CHttpClient::kErrorNoLocation, 2, "", kept},
      {"/redirect/302?to=//", false, CHttpClient::kErrorLocation, 1, "", kept},
      {"/redirect/302?to=mailto:a@b", false, CHttpClient::kErrorLocation, 1, "", kept},
      {"/redirect/302?to=/a%20b", false, CHttpClient::kErrorLocation, 1, "", kept},
      {"/redirect/302", false, CHttpClient::kErrorNoLocation, 1, "", kept},
      {"/chain/10", false, 0, 11, "end of chain", kept},
      {"/chain/11", false, CHttpClient::kErrorTooManyRedirects, 11, "", kept},
      {"/chain/-1", false, CHttpClient::kErrorTooManyRedirects, 11, "", kept},
      {"/echo/../q%20r?code=1301&x=%2F&y=a+b#f", false, 0, 1,
       "GET /echo/../q%20r?code=1301&x=%2F&y=a+b|||CHttpClient|line end", {"X-Test: line end\r\n"}},
      {"/echo", false, CHttpClient::kErrorHeader, 0, "", {"NoColon"}},
      {"/echo", false, CHttpClient::kErrorHeader, 0, "", {": no name"}},
      {"/echo", false, CHttpClient::kErrorHeader, 0, "", {"Bad Name: x"}},
      {"/echo", false, CHttpClient::kErrorHeader, 0, "", {"X-A: 1\r\nX-B: 2"}},
      {"/echo", false, CHttpClient::kErrorHeader, 0, "", {"X-A: 1", "x-a: 2"}},
      // The form's content type is there first; a caller cannot add another.
      {"/echo", true, CHttpClient::kErrorHeader, 0, "", {"Content-Type: text/plain"}},
  };
  CHttpClient::CCGIParams params;
  params.Add("code", "1301");
  params.Add("name", "a b");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + c.headers[0]);
    RecordingBuffer buffer;
    hits_ = 0;
    EXPECT_EQ(c.code, c.post ? client_.Post(Url(c.path), c.headers, params, buffer)
                             : client_.Get(Url(c.path), buffer, c.headers));
    EXPECT_EQ(c.hits, hits_);
    EXPECT_EQ(c.bytes, buffer.bytes);
  }
}

// Answers scripted for each connection (the last repeated); `hold` keeps
// the connection open after its answer. A body that breaks off, or that
// dribbles in below the least average rate, is a transient failure and is
// tried again; a body past the size cap (announced, or chunked without
// end) and a buffer that refuses bytes end the exchange at once. Nothing
// of a failed body stays in the buffer. A server that never answers, or
// never ends its TLS handshake, is given up by the client at each attempt.
// A cancel (`cancel` ms after the request begins, before it at 0) stops the
// request wherever it waits, with every time limit and pause of the client
// at 10 s or more but `pause` between attempts.
TEST(HttpClientScriptedTest, EveryBodyIsWholeOrLeavesNothingAndEveryWaitIsBounded) {
  const std::string sized = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string big(5000, 'x');
  const std::string stalled = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n01234";
  const std::string failed = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n";
  const std::string moved = "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n";
  const char* const kEarlier = "an earlier, complete page";
  const Code kCancelled = CHttpClient::kErrorCancelled;
  struct Case { const char* name; std::vector<std::string> answers; bool hold; Code code; int connections;
                const char* body; const char* scheme = "http"; bool refuse = false; int cancel = -1; uint32_t pause = 1; };
  const Case cases[] = {
      {"whole", {sized + "0123456789"}, false, 0, 1, "0123456789"},
      {"short of its length", {sized + "01234"}, false, CHttpClient::kErrorSend, 3, ""},
      {"chunked, whole", {chunked + "5\r\nhello\r\n0\r\n\r\n"}, false, 0, 1, "hello"},
      {"chunked without its last chunk", {chunked + "5\r\nhello\r\n"}, false, CHttpClient::kErrorSend, 3, ""},
      {"cut, then whole", {sized + "01234", sized + "0123456789"}, false, 0, 2, "0123456789"},
      {"announced too large", {"HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + big}, false,
       CHttpClient::kErrorTooLarge, 1, ""},
      {"chunked without end", {chunked + "1388\r\n" + big + "\r\n"}, true, CHttpClient::kErrorTooLarge, 1, ""},
      {"refused by the buffer", {sized + "0123456789"}, false, CHttpClient::kErrorWrite, 1, "", "http", true},
      {"too slow", {sized + "01234"}, true, CHttpClient::kErrorTooSlow, 3, ""},
      // No body began: what the buffer held stays.
      {"no answer", {""}, true, CHttpClient::kErrorSend, 3, kEarlier},
      {"no end to the handshake", {""}, true, CHttpClient::kErrorConnect, 3, kEarlier, "https"},
      {"cancel: an answer that never comes", {""}, true, kCancelled, 1, kEarlier, "http", false, 200},
      {"cancel: a TLS handshake that never ends", {""}, true, kCancelled, 1, kEarlier, "https", false, 200},
      {"cancel: a body that stalls", {stalled}, true, kCancelled, 1, "", "http", false, 200},
      {"cancel: the pause after a failure", {failed}, false, kCancelled, 1, kEarlier, "http", false, 200, 20000},
      {"cancel: the hop after a redirection", {moved, ""}, true, kCancelled, 2, kEarlier, "http", false, 200},
      {"cancel: a flag set beforehand", {stalled}, false, kCancelled, 0, kEarlier, "http", false, 0},
  };
  TempDir dir;
  for (const Case& c : cases) {
    RecordingBuffer memory;
    memory.refuseBytes = c.refuse;
    CBufferFile file(dir.Sub("download"));
    for (CBuffer* buffer : {static_cast<CBuffer*>(&memory), static_cast<CBuffer*>(&file)}) {
      // A wait is waited out once, a cancel to a file.
      if (buffer == &file ? (c.hold || c.refuse) && c.cancel < 0 : c.cancel >= 0) continue;
      SCOPED_TRACE(std::string(c.name) + (buffer == &file ? " to a file" : " to memory"));
      FillBuffer(*buffer, kEarlier);
      ScriptedServer server(c.answers, c.hold);
      ASSERT_TRUE(server.Start());
      CHttpClient client;
      std::atomic<std::uint8_t> cancel{c.cancel == 0 ? uint8_t{1} : uint8_t{0}};
      client.SetRetryPause(c.pause);
      client.SetCancelFlag(&cancel);
      if (c.cancel < 0) {
        client.SetAttempts(3);
        client.SetConnectTimeout(200);
        client.SetStallTimeout(1);
        client.SetMaxBodyBytes(1000);
        // The least average rate is asked for soon only where the case is about it.
        client.SetRateGrace(c.code == CHttpClient::kErrorTooSlow ? 300 : CHttpClient::kDefaultRateGraceMs);
      }
      std::thread canceller([&] {
        if (c.cancel > 0) usleep(c.cancel * 1000), cancel = 1;
      });
      const int64_t start = MonotonicMs();
      EXPECT_EQ(c.code, client.Get(server.Url("/page", c.scheme), *buffer));
      canceller.join();
      if (c.cancel >= 0) {
        // A correctness bound, far below every limit of the client: the
        // request did not run into one of them.
        EXPECT_LT(MonotonicMs() - start, 3000);
        usleep(100000);  // time for a stray later connection to be accepted
      }
      EXPECT_EQ(c.connections, server.Connections());
      EXPECT_EQ(c.body, Contents(*buffer));
      // Each attempt was given up by the client, none ended by the server.
      if (c.answers[0].empty() && c.cancel < 0) {
        EXPECT_EQ(c.connections, server.GivenUpSoon(c.connections));
      }
      EXPECT_TRUE(c.code == 0 || !CHttpClient::GetMessage(c.code).empty());
    }
  }
  EXPECT_FALSE(CHttpClient::IsTransient(CHttpClient::kErrorCancelled));
}

// A kept connection that the server closes as the next request comes is
// replaced within the same attempt, for a form post too: with one attempt
// allowed every request succeeds, each on a connection of its own that the
// client kept.
TEST(HttpClientScriptedTest, AKeptConnectionClosedByTheServerCostsNoAttempt) {
  ScriptedServer server({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, true);
  ASSERT_TRUE(server.Start());
  CHttpClient client;
  client.SetAttempts(1);
  client.SetStallTimeout(1);
  CHttpClient::CCGIParams form;
  form.Add("code", "1301");
  for (const bool post : {false, true, false}) {
    CBufferString buffer;
    EXPECT_EQ(0, post ? client.Post(server.Url("/page"), {}, form, buffer)
                      : client.Get(server.Url("/page"), buffer));
    EXPECT_STREQ("ok", buffer.GetText());
  }
  EXPECT_EQ(3, server.Connections());
  EXPECT_EQ(0, server.GivenUpSoon(0));  // the client kept every connection
}
