#include "web/http_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "series/buffer_file.h"
#include "tests/common/raw_http_server.h"
#include "tests/common/temp_dir.h"
#include "tests/web/local_server.h"
#include "tests/web/recording_buffer.h"

namespace {

// A body whose bytes depend on their position, so that a lost, doubled or
// reordered piece shows.
std::string Pattern(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
  return body;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = site_.server();
    s.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("hello world", "text/plain");
    });
    s.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
      res.status = 200;
    });
    s.Get("/large", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(large_, "application/octet-stream");
    });
    s.Get("/status/(\\d+)", [this](const httplib::Request& req, httplib::Response& res) {
      ++hits_;
      res.status = std::stoi(req.matches[1]);
      res.set_content("a body that must not be kept", "text/plain");
    });
    s.Get("/flaky", [this](const httplib::Request&, httplib::Response& res) {
      if (++hits_ <= 2) {
        res.status = 500;
      } else {
        res.set_content("recovered", "text/plain");
      }
    });
    auto echo = [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.method + "|" + req.body + "|" +
                          req.get_header_value("Content-Type") + "|" +
                          req.get_header_value("User-Agent") + "|" +
                          req.get_header_value("X-Test"),
                      "text/plain");
    };
    s.Get("/echo", echo);
    s.Post("/echo", echo);
    auto redirect = [this](const httplib::Request& req, httplib::Response& res) {
      ++hits_;
      res.status = std::stoi(req.matches[1]);
      res.set_header("Location", other_.Url("/echo"));
    };
    s.Get("/redirect/(\\d+)", redirect);
    s.Post("/redirect/(\\d+)", redirect);
    s.Get("/relative", [this](const httplib::Request&, httplib::Response& res) {
      ++hits_;
      res.status = 302;
      res.set_header("Location", "/hello");
    });
    s.Get("/nolocation", [](const httplib::Request&, httplib::Response& res) {
      res.status = 302;
    });
    s.Get("/loop", [this](const httplib::Request&, httplib::Response& res) {
      ++hits_;
      res.status = 307;
      res.set_header("Location", site_.Url("/loop"));
    });
    // /chain/N redirects N times before it answers.
    s.Get("/chain/(\\d+)", [this](const httplib::Request& req, httplib::Response& res) {
      ++hits_;
      const int left = std::stoi(req.matches[1]);
      if (left == 0) {
        res.set_content("end of chain", "text/plain");
      } else {
        res.status = 302;
        res.set_header("Location", site_.Url("/chain/" + std::to_string(left - 1)));
      }
    });
    other_.server().Get("/echo", echo);
    other_.server().Post("/echo", echo);
    ASSERT_TRUE(site_.Start());
    ASSERT_TRUE(other_.Start());
    client_.SetRetryPause(1);
  }

  NoProxy noProxy_;
  std::string large_ = Pattern(5 * 1024 * 1024 + 123);
  std::atomic<int> hits_{0};
  LocalServer site_;
  LocalServer other_;
  CHttpClient client_;
};

}  // namespace

TEST_F(HttpClientTest, A200BodyArrivesWholeAndEndsWithOneEmptyWrite) {
  RecordingBuffer buffer;
  EXPECT_EQ(0, client_.Get(site_.Url("/hello"), buffer));
  EXPECT_EQ("hello world", buffer.bytes);
  EXPECT_STREQ("hello world", buffer.GetText());
  ASSERT_FALSE(buffer.writes.empty());
  EXPECT_EQ(0, buffer.writes.back());
  EXPECT_EQ(1, buffer.opens);
  EXPECT_EQ(1, buffer.closes);

  RecordingBuffer empty;
  EXPECT_EQ(0, client_.Get(site_.Url("/empty"), empty));
  EXPECT_EQ(std::vector<int32_t>{0}, empty.writes);
  EXPECT_EQ(1, empty.closes);
}

TEST_F(HttpClientTest, ALargeBodyIsStreamedIntoAFileInPiecesOfAtMostOneMiB) {
  TempDir dir;
  CBufferFile file(dir.Sub("large.bin"));
  EXPECT_EQ(0, client_.Get(site_.Url("/large"), file));
  EXPECT_TRUE(ReadFile(file.GetPath()) == large_);

  RecordingBuffer buffer;
  EXPECT_EQ(0, client_.Get(site_.Url("/large"), buffer));
  EXPECT_TRUE(buffer.bytes == large_);
  EXPECT_GE(buffer.writes.size(), 7u);  // 5 MiB and more: at least 6 pieces
  for (int32_t w : buffer.writes) EXPECT_LE(w, CHttpClient::kReceiveBufferSize);
  EXPECT_EQ(0, buffer.writes.back());
}

TEST_F(HttpClientTest, ErrorStatusesAreNegatedAndOnlyTransientOnesRetried) {
  RecordingBuffer buffer;
  EXPECT_EQ(-404, client_.Get(site_.Url("/status/404"), buffer));
  EXPECT_EQ(1, hits_.exchange(0));
  EXPECT_EQ(-503, client_.Get(site_.Url("/status/503"), buffer));
  EXPECT_EQ(1, hits_.exchange(0));
  EXPECT_EQ(-308, client_.Get(site_.Url("/status/308"), buffer));  // not followed
  EXPECT_EQ(1, hits_.exchange(0));
  EXPECT_EQ(-500, client_.Get(site_.Url("/status/500"), buffer));
  EXPECT_EQ(5, hits_.exchange(0));
  // The body of an error answer is never written anywhere.
  EXPECT_EQ(0, buffer.opens);

  client_.SetAttempts(2);
  EXPECT_EQ(-500, client_.Get(site_.Url("/status/500"), buffer));
  EXPECT_EQ(2, hits_.exchange(0));
  client_.SetAttempts(0);  // still one attempt
  EXPECT_EQ(-500, client_.Get(site_.Url("/status/500"), buffer));
  EXPECT_EQ(1, hits_.exchange(0));

  client_.SetAttempts(5);
  EXPECT_EQ(0, client_.Get(site_.Url("/flaky"), buffer));
  EXPECT_EQ(3, hits_.load());
  EXPECT_EQ("recovered", buffer.bytes);
}

TEST_F(HttpClientTest, RedirectionsKeepTheVerbBodyAndHeaders) {
  CHttpClient::CCGIParams params;
  params.Add("code", "1301");
  params.Add("name", "a b");
  for (const char* status : {"301", "302", "303", "307"}) {
    RecordingBuffer buffer;
    EXPECT_EQ(0, client_.Post(site_.Url(std::string("/redirect/") + status),
                              {"X-Test: kept"}, params, buffer))
        << status;
    EXPECT_EQ(
        "POST|code=1301&name=a+b|application/x-www-form-urlencoded|CHttpClient|kept",
        buffer.bytes)
        << status;
  }
  RecordingBuffer buffer;
  EXPECT_EQ(0, client_.Get(site_.Url("/redirect/302"), buffer, {"X-Test: get"}));
  EXPECT_EQ("GET|||CHttpClient|get", buffer.bytes);
}

TEST_F(HttpClientTest, RedirectionsEndAtBadLocationsAndAfterTenHops) {
  RecordingBuffer buffer;
  EXPECT_EQ(CHttpClient::kErrorLocation, client_.Get(site_.Url("/relative"), buffer));
  EXPECT_EQ(1, hits_.exchange(0));
  EXPECT_EQ(CHttpClient::kErrorNoLocation, client_.Get(site_.Url("/nolocation"), buffer));

  EXPECT_EQ(0, client_.Get(site_.Url("/chain/10"), buffer));
  EXPECT_EQ("end of chain", buffer.bytes);
  EXPECT_EQ(11, hits_.exchange(0));
  EXPECT_EQ(CHttpClient::kErrorTooManyRedirects,
            client_.Get(site_.Url("/chain/11"), buffer));
  EXPECT_EQ(11, hits_.exchange(0));
  EXPECT_EQ(CHttpClient::kErrorTooManyRedirects, client_.Get(site_.Url("/loop"), buffer));
  EXPECT_EQ(11, hits_.exchange(0));  // final: not retried
  EXPECT_NE(CHttpClient::GetMessage(CHttpClient::kErrorTooManyRedirects),
            CHttpClient::GetMessage(-1234));
}

TEST_F(HttpClientTest, BuffersThatCannotBeOpenedAndBadHeadersAreReported) {
  RecordingBuffer refusing;
  refusing.refuseOpen = true;
  EXPECT_EQ(CHttpClient::kErrorBufferOpen, client_.Get(site_.Url("/hello"), refusing));
  EXPECT_TRUE(refusing.writes.empty());

  CBufferFile nowhere("/nonexistent-tickora-folder/file.bin");
  EXPECT_EQ(CHttpClient::kErrorBufferOpen, client_.Get(site_.Url("/large"), nowhere));

  RecordingBuffer buffer;
  CHttpClient::CCGIParams params;
  for (const std::vector<std::string>& headers :
       std::vector<std::vector<std::string>>{{"NoColon"},
                                             {": no name"},
                                             {"Bad Name: x"},
                                             {"X-A: 1\r\nX-B: 2"},
                                             {"X-A: 1", "x-a: 2"}}) {
    EXPECT_EQ(CHttpClient::kErrorHeader, client_.Get(site_.Url("/echo"), buffer, headers))
        << headers[0];
  }
  // The form's content type is there first; a caller cannot add another.
  EXPECT_EQ(CHttpClient::kErrorHeader,
            client_.Post(site_.Url("/echo"), {"Content-Type: text/plain"}, params, buffer));
  EXPECT_EQ(0, client_.Get(site_.Url("/echo"), buffer, {"X-Test: line end\r\n"}));
  EXPECT_EQ("GET|||CHttpClient|line end", buffer.bytes);
}

// Servers that misbehave, written byte by byte.

TEST(HttpClientRawTest, TheRequestCarriesPathQueryAndHeadersAsWritten) {
  NoProxy no_proxy;
  RawHttpServer server([](RawHttpServer&, int socket, const std::string&) {
    RawHttpServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  CHttpClient client;
  RecordingBuffer buffer;
  EXPECT_EQ(0, client.Get(server.Base() + "/a/../q%20r?code=1301&x=%2F&y=a+b#f",
                          buffer, {"Accept-Encoding: gzip, deflat", "X-Second: 2"}));
  EXPECT_EQ("ok", buffer.bytes);
  ASSERT_EQ(1u, server.Requests().size());
  const std::string request = server.Requests()[0];
  EXPECT_EQ(0u, request.find("GET /a/../q%20r?code=1301&x=%2F&y=a+b HTTP/1.1\r\n")) << request;
  EXPECT_NE(std::string::npos, request.find("User-Agent: CHttpClient\r\n"));
  const size_t first = request.find("Accept-Encoding: gzip, deflat\r\n");
  const size_t second = request.find("X-Second: 2\r\n");
  EXPECT_NE(std::string::npos, first);
  EXPECT_LT(first, second);
  EXPECT_EQ(std::string::npos, request.find("Expect:"));
}

TEST(HttpClientRawTest, ALargeFormIsSentWithoutWaitingForLeave) {
  NoProxy no_proxy;
  RawHttpServer server([](RawHttpServer&, int socket, const std::string&) {
    RawHttpServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  CHttpClient client;
  CHttpClient::CCGIParams params;
  params.Add("big", std::string(2 * 1024 * 1024, 'v'));
  RecordingBuffer buffer;
  EXPECT_EQ(0, client.Post(server.Base() + "/post", {}, params, buffer));
  ASSERT_EQ(1u, server.Requests().size());
  const std::string request = server.Requests()[0];
  EXPECT_EQ(0u, request.find("POST /post HTTP/1.1\r\n"));
  EXPECT_NE(std::string::npos,
            request.find("Content-Type: application/x-www-form-urlencoded\r\n"));
  EXPECT_EQ(std::string::npos, request.find("Expect:"));
  EXPECT_EQ(2 * 1024 * 1024 + 4u, request.size() - (request.find("\r\n\r\n") + 4));
}

TEST(HttpClientRawTest, ABodyCutMidWayKeepsWhatArrivedAndSucceeds) {
  NoProxy no_proxy;
  const std::string half = Pattern(500);
  RawHttpServer server([&half](RawHttpServer&, int socket, const std::string&) {
    RawHttpServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + half);
  });
  CHttpClient client;
  RecordingBuffer buffer;
  EXPECT_EQ(0, client.Get(server.Base() + "/cut", buffer));
  EXPECT_TRUE(buffer.bytes == half);
  // No closing empty piece: the body did not end normally.
  ASSERT_FALSE(buffer.writes.empty());
  EXPECT_NE(0, buffer.writes.back());
  EXPECT_EQ(1, buffer.closes);
  EXPECT_EQ(1, server.Accepted());
}

TEST(HttpClientRawTest, OversizedAnswersAreRefusedWithoutHarm) {
  NoProxy no_proxy;
  std::string mode;
  RawHttpServer server([&mode](RawHttpServer&, int socket, const std::string&) {
    if (mode == "location") {
      RawHttpServer::Send(socket, "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/" +
                                      std::string(10 * 1024, 'l') +
                                      "\r\nContent-Length: 0\r\n\r\n");
    } else if (mode == "line") {
      RawHttpServer::Send(socket, "HTTP/1.1 200 OK\r\nX-Long: " +
                                      std::string(300 * 1024, 'h') + "\r\n\r\n");
    } else {
      std::string head = "HTTP/1.1 200 OK\r\n";
      for (int i = 0; i < 3000; ++i) {
        head += "X-Pad-" + std::to_string(i) + ": " + std::string(1000, 'p') + "\r\n";
      }
      RawHttpServer::Send(socket, head + "Content-Length: 2\r\n\r\nok");
    }
  });
  CHttpClient client;
  client.SetAttempts(1);
  client.SetRetryPause(0);
  RecordingBuffer buffer;
  mode = "location";
  EXPECT_EQ(CHttpClient::kErrorLocation, client.Get(server.Base() + "/", buffer));
  mode = "line";
  EXPECT_EQ(CHttpClient::kErrorSend, client.Get(server.Base() + "/", buffer));
  mode = "many";
  EXPECT_EQ(CHttpClient::kErrorSend, client.Get(server.Base() + "/", buffer));
  EXPECT_EQ(0, buffer.opens);
}

TEST(HttpClientRawTest, ASilentServerIsAbandonedAfterTheStallTime) {
  NoProxy no_proxy;
  RawHttpServer server([](RawHttpServer& self, int, const std::string&) { self.Hold(); });
  CHttpClient client;
  client.SetAttempts(1);
  client.SetRetryPause(0);
  client.SetStallTimeout(1);
  RecordingBuffer buffer;
  EXPECT_EQ(CHttpClient::kErrorSend, client.Get(server.Base() + "/silent", buffer));
  EXPECT_EQ(1, server.Accepted());
  EXPECT_EQ(0, buffer.opens);
}

TEST(HttpClientRawTest, NoConnectionGivesTheConnectCodeAfterEveryAttempt) {
  NoProxy no_proxy;
  CHttpClient client;
  client.SetAttempts(3);
  client.SetRetryPause(0);
  RecordingBuffer buffer;
  EXPECT_EQ(CHttpClient::kErrorConnect,
            client.Get("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/", buffer));

  // A listener whose queue is full never completes the handshake.
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  ASSERT_EQ(0, listen(s, 0));
  socklen_t length = sizeof(address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(f, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    fillers.push_back(f);
  }
  client.SetAttempts(1);
  client.SetConnectTimeout(300);
  EXPECT_EQ(CHttpClient::kErrorConnect,
            client.Get("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/",
                       buffer));
  for (int f : fillers) close(f);
  close(s);
  EXPECT_EQ(0, buffer.opens);
}

TEST(HttpClientRawTest, AnythingButAnHttpAddressFailsWithoutTouchingTheNetwork) {
  NoProxy no_proxy;
  RawHttpServer server([](RawHttpServer&, int socket, const std::string&) {
    RawHttpServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string port = std::to_string(server.port());
  CHttpClient client;
  RecordingBuffer buffer;
  CHttpClient::CCGIParams params;
  EXPECT_EQ(CHttpClient::kErrorAddress, client.Get("ftp://127.0.0.1:" + port + "/", buffer));
  EXPECT_EQ(CHttpClient::kErrorAddress, client.Get("/relative", buffer));
  EXPECT_EQ(CHttpClient::kErrorAddress,
            client.Post("127.0.0.1:" + port + "/", {}, params, buffer));
  EXPECT_EQ(CHttpClient::kErrorHeader,
            client.Get("http://127.0.0.1:" + port + "/", buffer, {"broken"}));
  EXPECT_EQ(0, server.Accepted());
  EXPECT_EQ(0, buffer.opens);
  // The scheme is matched ignoring case.
  EXPECT_EQ(0, client.Get("HTTP://127.0.0.1:" + port + "/", buffer));
  EXPECT_EQ(1, server.Accepted());
}
