// How long a cancel takes to stop work that waits on a server which has
// stopped answering, next to the plainest way of stopping the same
// transfer: libcurl's easy interface whose transfer callback reports the
// flag. Wall-clock milliseconds from the moment the flag is set to the
// moment the call returns.
//
//   cancel_bench [--trials N]
//
// Three waits, each on 127.0.0.1: a server that accepts and never answers;
// one that sends its headers and half the body and then stalls; and a whole
// archive-mode setup run whose price archive file hangs. Prints one report;
// nothing is asserted.

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "series/buffer_string.h"
#include "setup/setup_run.h"
#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"
#include "web/http_client.h"
#include "web/web_archive.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A server on 127.0.0.1 that reads each request and then either sends
// nothing or sends headers announcing 1 MB and half of it, and holds the
// connection open until it is destroyed.
class StallingServer {
 public:
  explicit StallingServer(bool sendHalf) : sendHalf_(sendHalf) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::perror("cancel_bench: listen");
      std::exit(1);
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~StallingServer() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
    for (int fd : connections_) close(fd);
  }
  StallingServer(const StallingServer&) = delete;
  StallingServer& operator=(const StallingServer&) = delete;

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/file"; }

 private:
  void Serve() {
    for (;;) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      connections_.push_back(fd);
      char request[4096];
      if (recv(fd, request, sizeof request, 0) <= 0 || !sendHalf_) continue;
      const std::string head =
          "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
          "Content-Length: 1048576\r\n\r\n";
      const std::string half(1u << 19, 'x');
      if (send(fd, head.data(), head.size(), MSG_NOSIGNAL) < 0 ||
          send(fd, half.data(), half.size(), MSG_NOSIGNAL) < 0) {
        continue;
      }
    }
  }

  const bool sendHalf_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::vector<int> connections_;
};

// Runs `work` on a thread, sets `flag` 200 ms into it, and gives the
// milliseconds from setting the flag until `work` returned.
double TimeCancel(std::atomic<std::uint8_t>& flag, const std::function<void()>& work,
                  const std::function<bool()>& ready = [] { return true; }) {
  flag = 0;
  std::atomic<bool> finished{false};
  Clock::time_point ended;
  std::thread worker([&] {
    work();
    ended = Clock::now();
    finished = true;
  });
  while (!ready() && !finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Clock::time_point set = Clock::now();
  flag = 1;
  worker.join();
  return std::chrono::duration<double, std::milli>(ended - set).count();
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

int ReportFlag(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<std::atomic<std::uint8_t>*>(flag)->load() != 0;
}

// The plainest cancellable download: one easy handle, the transfer
// callback returning non-zero once the flag is set.
void PlainCurlGet(const std::string& url, std::atomic<std::uint8_t>& flag) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ReportFlag);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &flag);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
}

struct Summary {
  double median = 0, worst = 0;
};

Summary Summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.back()};
}

void PrintRow(const char* what, const Summary& ours, const Summary& plain) {
  std::printf("%-34s %9.1f %9.1f %12.1f %12.1f\n", what, ours.median, ours.worst, plain.median,
              plain.worst);
}

// A market source that posts no usage record; everything else as the
// product runs it.
class QuietMarket : public CWebMarket {
 public:
  void PostUsageLog(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  int trials = 10;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--trials") == 0 && i + 1 < argc) {
      trials = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: cancel_bench [--trials N]\n");
      return 2;
    }
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::printf("milliseconds from cancel to return, %d trials each\n", trials);
  std::printf("%-34s %9s %9s %12s %12s\n", "", "median", "worst", "plain median", "plain worst");

  for (const bool half : {false, true}) {
    std::vector<double> ours, plain;
    for (int t = 0; t < trials; ++t) {
      StallingServer server(half);
      std::atomic<std::uint8_t> flag{0};
      ours.push_back(TimeCancel(flag, [&] {
        CHttpClient client;
        client.SetCancelFlag(&flag);
        CBufferString body;
        (void)client.Get(server.Url(), body);  // cancelled on purpose
      }));
      plain.push_back(TimeCancel(flag, [&] { PlainCurlGet(server.Url(), flag); }));
    }
    PrintRow(half ? "download stalled halfway" : "server never answers", Summarise(ours),
             Summarise(plain));
  }

  // The whole run: the cancel goes through the progress record, as the
  // wizard and the command line set it.
  CSimMarketOptions options;
  options.seed = 5;
  options.issueCount = 40;
  options.today = CDate::Today();
  options.firstYear = options.today.year - 1;
  const CSimMarket market(options);
  const fs::path folder = fs::temp_directory_path() / ("cancel_bench." + std::to_string(getpid()));
  std::vector<double> runs;
  for (int t = 0; t < std::min(trials, 5); ++t) {
    CSimServer server(market, CSimServerOptions());
    if (!server.Start()) return 1;
    for (const auto& [name, value] : server.Environment()) setenv(name.c_str(), value.c_str(), 1);
    CSimFault hang;
    ParseSimFault(std::string("hang@archive:") + CWebArchive::kPathPrefix + "price-*", hang);
    const int id = server.AddFault(hang);
    CRunChoices choices;
    choices.databaseFolder = folder.string();
    choices.useArchive = true;
    WorkerProgress progress;
    progress.ResetForFreshRun();
    CSetupRun run(&choices, std::make_unique<QuietMarket>());
    runs.push_back(TimeCancel(
        progress.cancel, [&] { run.Run(progress); }, [&] { return server.FaultHits(id) > 0; }));
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  const Summary run = Summarise(runs);
  std::printf("%-34s %9.1f %9.1f %12s %12s\n", "setup run, price archive hangs", run.median,
              run.worst, "-", "-");
  curl_global_cleanup();
  return 0;
}
