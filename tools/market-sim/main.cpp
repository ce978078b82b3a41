// market-sim: serves a simulated Japanese market on 127.0.0.1 until it is
// interrupted (SIGINT, SIGTERM or SIGHUP). See the usage text below and the
// README.

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"

namespace {

const char kUsage[] =
    "usage: market-sim [options]\n"
    "  --seed N          seed of the market (default 1)\n"
    "  --issues N        listed issues (default 4000)\n"
    "  --first-year Y    first year with prices (default 2000)\n"
    "  --today DATE      the market's today, e.g. 20240614 (default: the local date)\n"
    "  --horizon DATE    the day the market's listings, delistings and splits are\n"
    "                    drawn up to (default: today); markets of one seed and\n"
    "                    horizon agree up to the earlier today\n"
    "  --retired-markets list some issues on retired market names (the readers refuse them)\n"
    "  --https           serve the https sites over TLS with a certificate made at start\n"
    "  --cert-dir DIR    where ca.pem, server.pem and server.key go (default: a temporary folder)\n"
    "  --port-base N     site i listens on port N+i (default: free ports)\n"
    "  --latency MS      a link's round trip: waited before each connection is taken\n"
    "                    up, each TLS handshake answered and each answer sent (default 0)\n"
    "  --bandwidth B     a link's rate: the answers' bodies at B bytes a second at most,\n"
    "                    on each connection and on all together (default 0: no limit)\n"
    "  --fault SPEC      KIND[=VALUE]@[SITE:]PATH[*], repeatable; KIND is status=CODE,\n"
    "                    fail-first=N[/CODE], cut=BYTES, corrupt-gzip, delay=MS, hang,\n"
    "                    redirect=HOPS, redirect-loop, altered or\n"
    "                    short-rows\n"
    "  --print-env       print 'export TICKORA_..._URL=...' lines on standard output\n"
    "  --env-file PATH   write the same lines to PATH once every port listens\n"
    "Sites: archive log finance finance-stocks stock-list index-portal broker-mobile\n"
    "       stock-info futures-data dow-forecast broker-futures\n";

bool ParseNumber(const char* text, long long low, long long high, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "market-sim: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CSimMarketOptions market;
  CSimServerOptions server;
  bool printEnv = false;
  std::string envFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    long long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--https") {
      server.https = true;
    } else if (arg == "--print-env") {
      printEnv = true;
    } else if (arg == "--retired-markets") {
      market.retiredMarkets = true;
    } else if (arg != "--seed" && arg != "--issues" && arg != "--first-year" &&
               arg != "--today" && arg != "--horizon" && arg != "--cert-dir" &&
               arg != "--port-base" && arg != "--latency" && arg != "--bandwidth" &&
               arg != "--fault" && arg != "--env-file") {
      return Fail("unknown option: " + arg);
    } else if (!hasValue) {
      return Fail("missing value of " + arg);
    } else if (arg == "--seed") {
      if (!ParseNumber(argv[++i], 0, INT64_MAX, n)) return Fail("bad seed");
      market.seed = static_cast<uint64_t>(n);
    } else if (arg == "--issues") {
      if (!ParseNumber(argv[++i], 0, 8000, n)) return Fail("issues must be 0 to 8000");
      market.issueCount = static_cast<int32_t>(n);
    } else if (arg == "--first-year") {
      if (!ParseNumber(argv[++i], 1990, 2100, n)) return Fail("bad first year");
      market.firstYear = static_cast<uint32_t>(n);
    } else if (arg == "--today") {
      if (!market.today.Parse(std::string(argv[++i]))) return Fail("bad date");
    } else if (arg == "--horizon") {
      if (!market.horizon.Parse(std::string(argv[++i]))) return Fail("bad horizon date");
    } else if (arg == "--cert-dir") {
      server.certFolder = argv[++i];
    } else if (arg == "--port-base") {
      if (!ParseNumber(argv[++i], 1024, 65000, n)) return Fail("port base must be 1024 to 65000");
      server.portBase = static_cast<int>(n);
    } else if (arg == "--latency") {
      if (!ParseNumber(argv[++i], 0, 60000, n)) return Fail("latency must be 0 to 60000 ms");
      server.latencyMs = static_cast<int>(n);
    } else if (arg == "--bandwidth") {
      if (!ParseNumber(argv[++i], 0, INT64_MAX / 1000000000, n)) return Fail("bad bandwidth");
      server.bandwidth = n;
    } else if (arg == "--fault") {
      CSimFault fault;
      if (!ParseSimFault(argv[++i], fault)) return Fail(std::string("bad fault: ") + argv[i]);
      server.faults.push_back(fault);
    } else {
      envFile = argv[++i];
    }
  }

  // The signals that end the server are taken by sigwait below; every
  // thread started from here on inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  const auto start = std::chrono::steady_clock::now();
  CSimMarket simMarket(market);
  CSimServer simServer(simMarket, server);
  std::string error;
  if (!simServer.Start(&error)) {
    std::fprintf(stderr, "market-sim: %s\n", error.c_str());
    return 1;
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();

  // With --print-env standard output holds only the export lines, so that
  // it can be read by a shell; the addresses then go to standard error.
  std::FILE* info = printEnv ? stderr : stdout;
  std::fprintf(info, "market-sim: %zu issues, %s to %s, seed %llu, ready in %lld ms\n",
               simMarket.Issues().size(), simMarket.FirstDate().Format(8).c_str(),
               simMarket.LastDate().Format(8).c_str(),
               static_cast<unsigned long long>(simMarket.Options().seed),
               static_cast<long long>(ms));
  for (const CSiteSetting& setting : SiteSettings()) {
    std::fprintf(info, "  %-15s %s\n", SimSiteName(setting.site),
                 simServer.BaseUrl(setting.site).c_str());
  }
  std::string exports;
  for (const auto& line : simServer.Environment()) {
    exports += "export " + line.first + "=" + line.second + "\n";
  }
  if (printEnv) std::fputs(exports.c_str(), stdout);
  std::fflush(stdout);
  std::fflush(stderr);
  if (!envFile.empty()) {
    // Written whole under another name first, so that a reader never sees
    // half of it.
    const std::string temp = envFile + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "w");
    if (f == nullptr || std::fputs(exports.c_str(), f) < 0 || std::fclose(f) != 0 ||
        std::rename(temp.c_str(), envFile.c_str()) != 0) {
      std::fprintf(stderr, "market-sim: cannot write %s\n", envFile.c_str());
      return 1;
    }
  }

  int signal = 0;
  sigwait(&signals, &signal);
  simServer.Stop();
  const CSimLinkCounts counts = simServer.Counts();
  std::fprintf(stderr,
               "market-sim: stopped (%s) after %lld requests on %lld connections, "
               "%lld TLS handshakes\n",
               strsignal(signal), static_cast<long long>(counts.requests),
               static_cast<long long>(counts.connections),
               static_cast<long long>(counts.handshakes));
  return 0;
}
