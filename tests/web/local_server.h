#ifndef TICKORA_TESTS_WEB_LOCAL_SERVER_H_
#define TICKORA_TESTS_WEB_LOCAL_SERVER_H_

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "tests/common/scoped_env.h"

// A cpp-httplib server (plain or TLS) listening on 127.0.0.1 at a free
// port, on a thread of its own, from construction to destruction. Routes
// are set on server() before Start.
class LocalServer {
 public:
  // A plain HTTP server.
  LocalServer() : server_(new httplib::Server), scheme_("http") {}
  // A TLS server with the given PEM certificate and key files.
  LocalServer(const std::string& cert, const std::string& key)
      : server_(new httplib::SSLServer(cert.c_str(), key.c_str())), scheme_("https") {}

  ~LocalServer() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
  }

  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  httplib::Server& server() { return *server_; }

  // Binds and starts serving; false when no port could be had.
  bool Start() {
    if (!server_->is_valid()) return false;
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::yield();
    return true;
  }

  std::string Base() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& path) const { return Base() + path; }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::string scheme_;
  int port_ = 0;
  std::thread thread_;
};

// Keeps any proxy of the environment away from requests to 127.0.0.1.
class NoProxy {
 private:
  ScopedEnv lower_{"no_proxy", "*"};
  ScopedEnv upper_{"NO_PROXY", "*"};
};

#endif  // TICKORA_TESTS_WEB_LOCAL_SERVER_H_
