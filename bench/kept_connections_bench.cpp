// A page-mode setup run of a small market whose https sites answer over a
// modelled link (market-sim's latency, 30 ms by default), twice in one
// process: with the HTTP client keeping a connection and TLS session per
// site, and with a fresh connection and a full TLS handshake for every
// request (CHttpClient::SetFreshConnections, the way the client worked
// before). For each it reports the wall time, the requests per second and
// the connections and TLS handshakes per request that the simulated market
// counted, and the connections of each site. The market runs in-process,
// closing a connection after 5 s idle as a common web server does.
//
//   kept_connections_bench [--issues N] [--first-year Y] [--latency MS]
//
// Prints one report; nothing is asserted.

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "setup/setup_run.h"
#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"
#include "web/http_client.h"
#include "web/site_urls.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int stage = 0;
  double seconds = 0;
  CSimLinkCounts counts;
  std::string sites;  // "name connections/requests ..."
};

Outcome RunOnce(CSimServer& server, const CDate& first, const CDate& today,
                const std::string& folder) {
  server.ClearRequests();
  CRunChoices choices;
  choices.databaseFolder = folder;
  choices.useArchive = false;
  WorkerProgress progress;
  progress.ResetForFreshRun();
  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
  {
    CSetupRun run(&choices);
    run.SetPeriod(first, CLocalTime{today, 16, 0});
    run.Run(progress);
  }
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.stage = progress.stage.load();
  if (outcome.stage != 5) std::fprintf(stderr, "the run failed: %s\n", progress.Error().c_str());
  outcome.counts = server.Counts();
  for (const CSiteSetting& setting : SiteSettings()) {
    const CSimLinkCounts site = server.Counts(setting.site);
    if (site.requests == 0) continue;
    outcome.sites += std::string(" ") + SimSiteName(setting.site) + " " +
                     std::to_string(site.connections) + "/" + std::to_string(site.requests);
  }
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  CSimMarketOptions market;
  market.issueCount = 30;
  market.today = CDate::Today();
  market.firstYear = market.today.year;
  int latency = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--issues") market.issueCount = std::atoi(argv[i + 1]);
    else if (arg == "--first-year") market.firstYear = static_cast<uint32_t>(std::atoi(argv[i + 1]));
    else if (arg == "--latency") latency = std::atoi(argv[i + 1]);
  }
  const CSimMarket simMarket(market);
  CSimServerOptions options;
  options.https = true;
  options.latencyMs = latency;
  options.keepAliveSeconds = 5;
  CSimServer server(simMarket, options);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "market: %s\n", error.c_str());
    return 1;
  }
  setenv("no_proxy", "*", 1);
  setenv("NO_PROXY", "*", 1);
  for (const auto& [name, value] : server.Environment()) setenv(name.c_str(), value.c_str(), 1);
  const fs::path work =
      fs::temp_directory_path() / ("kept-connections-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  const CDate first(market.firstYear, 1, 1);

  // Kept first: the market's caches are then cold for it, warm for the other.
  CHttpClient::SetFreshConnections(false);
  const Outcome kept = RunOnce(server, first, market.today, (work / "kept").string());
  CHttpClient::SetFreshConnections(true);
  const Outcome fresh = RunOnce(server, first, market.today, (work / "fresh").string());
  CHttpClient::SetFreshConnections(false);
  server.Stop();
  fs::remove_all(work);

  auto rate = [](const Outcome& o) { return static_cast<double>(o.counts.requests) / o.seconds; };
  auto per = [](int64_t n, const Outcome& o) {
    return static_cast<double>(n) / static_cast<double>(std::max<int64_t>(o.counts.requests, 1));
  };
  std::printf("page-mode setup run, %d issues from %u, https, latency %d ms\n", market.issueCount,
              market.firstYear, latency);
  for (const Outcome* o : {&kept, &fresh}) {
    std::printf(
        "%s\n"
        "  result             stage %d%s\n"
        "  wall time          %.1f s\n"
        "  requests           %lld, %.1f a second\n"
        "  connections        %lld, %.3f a request\n"
        "  TLS handshakes     %lld, %.3f a request\n"
        "  connections/requests by site:%s\n",
        o == &kept ? "kept connections" : "a fresh connection per request (before)", o->stage,
        o->stage == 5 ? "" : " (failed)", o->seconds,
        static_cast<long long>(o->counts.requests), rate(*o),
        static_cast<long long>(o->counts.connections), per(o->counts.connections, *o),
        static_cast<long long>(o->counts.handshakes), per(o->counts.handshakes, *o),
        o->sites.c_str());
  }
  std::printf("requests per second, kept against fresh: %.2fx\n", rate(kept) / rate(fresh));
  return kept.stage == 5 && fresh.stage == 5 ? 0 : 1;
}
