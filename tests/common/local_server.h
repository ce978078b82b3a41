#ifndef TICKORA_TESTS_COMMON_LOCAL_SERVER_H_
#define TICKORA_TESTS_COMMON_LOCAL_SERVER_H_

#include <httplib.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <thread>

// A cpp-httplib server on 127.0.0.1 at a free port, serving on a thread of
// its own from Start until it is destroyed. Routes are set on `server`
// before Start. Any proxy of the environment is kept away from requests for
// the rest of the process.
class LocalServer {
 public:
  LocalServer() : server(new httplib::Server) {}
  ~LocalServer() {
    server->stop();
    if (thread_.joinable()) thread_.join();
  }

  bool Start() {
    setenv("no_proxy", "*", 1);
    setenv("NO_PROXY", "*", 1);
    port_ = server->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    thread_ = std::thread([this] { server->listen_after_bind(); });
    while (!server->is_running()) std::this_thread::yield();
    return true;
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  std::unique_ptr<httplib::Server> server;

 private:
  int port_ = 0;
  std::thread thread_;
};

#endif  // TICKORA_TESTS_COMMON_LOCAL_SERVER_H_
