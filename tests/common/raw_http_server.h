#ifndef TICKORA_TESTS_COMMON_RAW_HTTP_SERVER_H_
#define TICKORA_TESTS_COMMON_RAW_HTTP_SERVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A bare HTTP server on 127.0.0.1 for tests that need answers no ordinary
// server library gives: bytes written exactly as scripted, a body that
// breaks off, a connection that is accepted and never answered. It serves
// one connection at a time on its own thread: it reads the request (head
// and, by Content-Length, body), keeps it, and hands the socket to the
// script. The script may write anything; when it returns the connection
// is closed. Hold() blocks until the server stops, for a server that never
// answers.
class RawHttpServer {
 public:
  using Script = std::function<void(RawHttpServer& server, int socket,
                                    const std::string& request)>;

  explicit RawHttpServer(Script script) : script_(std::move(script)) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listen_, 16) != 0) {
      std::abort();
    }
    socklen_t length = sizeof(address);
    getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (pipe(stop_) != 0) std::abort();
    thread_ = std::thread([this] { Serve(); });
  }

  ~RawHttpServer() {
    stopping_ = true;
    if (write(stop_[1], "x", 1) != 1) std::abort();
    thread_.join();
    close(listen_);
    close(stop_[0]);
    close(stop_[1]);
  }

  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int port() const { return port_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int Accepted() const { return accepted_; }
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  static void Send(int socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }

  // Waits until the server is being destroyed.
  void Hold() {
    pollfd stop{stop_[0], POLLIN, 0};
    while (!stopping_) poll(&stop, 1, 1000);
  }

 private:
  void Serve() {
    for (;;) {
      pollfd fds[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      poll(fds, 2, -1);
      if (stopping_) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      int connection = accept(listen_, nullptr, nullptr);
      if (connection < 0) continue;
      ++accepted_;
      std::string request;
      if (ReadRequest(connection, request)) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
        }
        script_(*this, connection, request);
      }
      shutdown(connection, SHUT_RDWR);
      close(connection);
    }
  }

  bool ReadRequest(int connection, std::string& request) {
    char chunk[4096];
    size_t head_end = std::string::npos;
    size_t body_length = 0;
    for (;;) {
      if (head_end == std::string::npos) {
        head_end = request.find("\r\n\r\n");
        if (head_end != std::string::npos) {
          head_end += 4;
          const std::string head = request.substr(0, head_end);
          size_t at = head.find("Content-Length: ");
          if (at != std::string::npos) body_length = std::strtoul(head.c_str() + at + 16, nullptr, 10);
        }
      }
      if (head_end != std::string::npos && request.size() >= head_end + body_length) return true;
      pollfd fds[2] = {{connection, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      poll(fds, 2, -1);
      if (stopping_) return false;
      ssize_t n = recv(connection, chunk, sizeof(chunk), 0);
      if (n <= 0) return false;
      request.append(chunk, static_cast<size_t>(n));
    }
  }

  Script script_;
  int listen_ = -1;
  int stop_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

#endif  // TICKORA_TESTS_COMMON_RAW_HTTP_SERVER_H_
