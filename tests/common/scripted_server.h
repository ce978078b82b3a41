#ifndef TICKORA_TESTS_COMMON_SCRIPTED_SERVER_H_
#define TICKORA_TESTS_COMMON_SCRIPTED_SERVER_H_

#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A server on 127.0.0.1 that answers with bytes written out in full, for
// what a well-behaved server never sends: a body cut short, a chunked body
// without its last chunk, a body that stops, no answer at all. Connection i
// (from 0) gets answers[i], the last one every later connection. They are
// served one after another on the server's thread: the request is read to
// the end of its headers (or until the client closes), the answer sent,
// and the connection closed - or, when `hold`, kept open until the client
// closes it (GivenUpSoon counts those) or for 10 s at most, so that a client
// that never gives up fails its test instead of hanging it. A held
// connection on which the client sends again (a request on a kept
// connection) is closed at once without an answer, as by a server that
// drops an idle connection just as the request comes.
class ScriptedServer {
 public:
  ScriptedServer(std::vector<std::string> answers, bool hold)
      : answers_(std::move(answers)), hold_(hold) {}
  ~ScriptedServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }

  bool Start() {
    setenv("no_proxy", "*", 1);
    setenv("NO_PROXY", "*", 1);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return false;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        const int fd = Readable(listener_) ? accept(listener_, nullptr, nullptr) : -1;
        if (fd < 0) continue;
        Serve(fd, answers_[std::min<size_t>(connections_++, answers_.size() - 1)]);
        close(fd);
      }
    });
    return true;
  }

  std::string Url(const std::string& path, const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Connections() const { return connections_; }
  // The connections the client closed, once they reach `count`, or after
  // 2 s: the server's thread sees a close only a moment after the client
  // made it, later on a busy machine.
  int GivenUpSoon(int count) const {
    for (int i = 0; i < 200 && givenUp_ < count; ++i) usleep(10000);
    return givenUp_;
  }

 private:
  // Waits 10 ms at most.
  bool Readable(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 10) > 0;
  }

  void Serve(int fd, const std::string& answer) {
    std::string request;
    char bytes[4096];
    bool closed = false;
    int ticks = 1000;  // of 10 ms
    while (!stop_ && !closed && --ticks > 0 && request.find("\r\n\r\n") == std::string::npos) {
      if (!Readable(fd)) continue;
      const ssize_t n = recv(fd, bytes, sizeof(bytes), 0);
      closed = n <= 0;
      if (n > 0) request.append(bytes, static_cast<size_t>(n));
    }
    if (!closed) send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    if (!hold_) shutdown(fd, SHUT_WR);
    // Reads what the client still sends, so that closing sends no reset
    // that could overtake the answer.
    while (!stop_ && !closed && --ticks > 0) {
      if (!Readable(fd)) continue;
      const ssize_t n = recv(fd, bytes, sizeof(bytes), 0);
      if (n > 0 && hold_) return;
      closed = n <= 0;
    }
    if (closed && hold_) ++givenUp_;
  }

  const std::vector<std::string> answers_;
  const bool hold_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> givenUp_{0};
  std::thread thread_;
};

#endif  // TICKORA_TESTS_COMMON_SCRIPTED_SERVER_H_
