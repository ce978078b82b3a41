#ifndef TICKORA_TOOLS_MARKET_SIM_SIM_SERVER_H_
#define TICKORA_TOOLS_MARKET_SIM_SIM_SERVER_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/market-sim/sim_archive.h"
#include "tools/market-sim/sim_market.h"
#include "web/site_urls.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

// A fault that the server plays on the requests it matches, instead of (or
// on top of) the normal answer.
struct CSimFault {
  enum class Kind {
    kStatus,         // answer `status` with a short text body
    kFailFirst,      // answer `status` to the first `count` requests, then normally
    kCutBody,        // announce the whole body, send `bytes` of it, close
    kCorruptGzip,    // the body's first 10 bytes (a gzip header), then 0xFF bytes
    kDelay,          // wait `delayMs`, then answer normally
    kHang,           // never answer; the request is released when the server stops
    kRedirectChain,  // `count` redirections (302) before the normal answer
    kRedirectLoop,   // redirect back and forth without end
    kAlteredStructure,  // the page with its structure changed
    kShortRows,      // a table page that breaks off inside its rows
    kBadRecords,     // archive year files: records no file may hold added
    kAlternatingCodes,  // archive files: two codes alternating, record by record
    kGzipBomb,       // archive files: the header and `bytes` zeros, packed
    kEndless,        // a body without end (chunked): random gzip, or a page
    kHostileCodes,   // list pages: rows with codes the rule refuses; the
                     // broker's quote page: a code with terminal escapes
    kNonFinite,      // archive issue and split files: NaN and infinite numbers
  };

  Kind kind = Kind::kStatus;
  // The site whose requests are matched; any site when empty.
  std::optional<Site> site;
  // Matched against the path as sent, or against path + "?" + query when
  // it holds a "?". With `prefix`, any text starting with it matches.
  std::string path;
  bool prefix = false;
  int status = 500;
  int count = 1;
  size_t bytes = 0;
  int delayMs = 0;
};

// Reads a fault from its command-line form
//   KIND[=VALUE]@[SITE:]PATH[*]
// KIND and VALUE: status=CODE, fail-first=N or fail-first=N/CODE (500
// when no CODE), cut=BYTES, corrupt-gzip, delay=MILLISECONDS, hang,
// redirect=HOPS, redirect-loop, altered, short-rows, bad-records,
// alternating-codes, gzip-bomb=BYTES, endless, hostile-codes, non-finite. SITE is a name of SimSiteName;
// a trailing "*" makes the path a prefix. False for any other text.
bool ParseSimFault(const std::string& text, CSimFault& fault);

// The short name of a site used on the command line and in the server's
// messages: "archive", "log", "finance", "finance-stocks", "stock-list",
// "index-portal", "broker-mobile", "stock-info", "futures-data",
// "dow-forecast", "broker-futures".
const char* SimSiteName(Site site);
bool SimSiteFromName(const std::string& name, Site& site);

// One request the server received, as the request log keeps it.
struct CSimRequestRecord {
  Site site = Site::kArchive;
  std::string method;
  std::string path;   // as sent
  std::string query;  // as sent, without "?"
  std::string body;   // as sent (a form post's fields, encoded)
  std::string acceptEncoding;  // the Accept-Encoding header, empty without one
  int status = 0;     // the status answered
  int64_t timeMs = 0;  // when it arrived, in milliseconds since 1970 (UTC)
  // The connection it came on: the server numbers the connections it
  // accepts from 1, over every site, in the order it takes them up.
  int64_t connection = 0;
};

// What the request log counts, for one site or for all of them.
struct CSimLinkCounts {
  int64_t connections = 0;  // connections accepted
  int64_t handshakes = 0;   // TLS handshakes begun (client hellos read)
  int64_t requests = 0;     // requests answered
};

// One post to the log endpoint: its form fields, decoded, in order.
struct CSimLogPost {
  int64_t timeMs = 0;  // when it arrived, in milliseconds since 1970 (UTC)
  std::vector<std::pair<std::string, std::string>> fields;
};

struct CSimServerOptions {
  // Serve the sites whose default address is https over TLS, with a
  // certificate made at start by a test authority of the server's own.
  bool https = false;
  // 0: every site on a free port. Otherwise site i (its place in
  // SiteSettings) listens on portBase + i.
  int portBase = 0;
  // Where the authority's certificate (ca.pem) and the server's
  // certificate and key go; a private temporary folder when empty (then
  // removed when the server goes).
  std::string certFolder;
  // The subject alternative names of the server's certificate; another
  // name than 127.0.0.1 makes a server that no client should accept.
  std::string certNames = "IP:127.0.0.1,DNS:localhost";
  std::vector<CSimFault> faults;
  // The link between the server and its clients; 0 (the default) for none.
  // `latencyMs` is waited before a connection is taken up, before the
  // answer to a TLS client hello and before the first byte of every
  // answer, as the round trips of a real link add it. The bodies of the
  // answers travel at `bandwidth` bytes a second at most, on each
  // connection and on all of them together, so that parallel transfers
  // share the link.
  int latencyMs = 0;
  int64_t bandwidth = 0;
  // How long a kept connection may stay idle before the server closes it.
  // Stop waits as long for a connection that a client still holds.
  int keepAliveSeconds = 1;
};

// CSimServer serves a simulated market on 127.0.0.1: one listening port for
// each site of SiteSettings, so that the paths of different sites never
// meet. The archive site serves the archive files (CSimArchive), the log
// site the form post "/cgi-bin/postlog.pl", and every other site the pages
// of RenderSitePage. Faults (CSimFault) can be set at start or at any time.
// Every request is kept in the request log and every post in the log
// posts, until cleared; the request log also counts the connections and
// TLS handshakes of each site. A connection is kept open between requests
// for as long as the client likes, up to a second idle (keepAliveSeconds).
//
// The market must outlive the server. Start once; Stop (or the destructor)
// closes the ports, releases held requests and waits for the server's
// threads. Every other operation may be called from any thread at any
// time. Not copyable.
class CSimServer {
 public:
  static constexpr const char* kLogPath = "/cgi-bin/postlog.pl";

  CSimServer(const CSimMarket& market, const CSimServerOptions& options);
  ~CSimServer();
  CSimServer(const CSimServer&) = delete;
  CSimServer& operator=(const CSimServer&) = delete;

  // Makes the certificate when needed, binds every port and starts
  // serving. False, with `error` set, when a port cannot be bound or the
  // certificate cannot be made; the server is then stopped.
  bool Start(std::string* error = nullptr);
  void Stop();

  // The port of a site (0 before Start), and its base address
  // "http[s]://127.0.0.1:port" (empty before Start). Not to be called while
  // Start is under way.
  int Port(Site site) const;
  std::string BaseUrl(Site site) const;
  // The PEM file of the authority that signed the server's certificate;
  // empty without https.
  std::string CaFile() const { return caFile_; }
  // The variables that point the system at this server: each site's
  // variable with its base address, and TICKORA_CA_FILE with https.
  std::vector<std::pair<std::string, std::string>> Environment() const;

  // Faults. AddFault returns an id for RemoveFault and FaultHits (the
  // number of requests the fault has matched so far).
  int AddFault(const CSimFault& fault);
  bool RemoveFault(int id);
  void ClearFaults();
  int FaultHits(int id) const;

  // The request log: every request in the order answered, and the counts
  // of one site (of every site when none is given). ClearRequests empties
  // the list and sets the counts to zero.
  std::vector<CSimRequestRecord> Requests() const;
  CSimLinkCounts Counts(std::optional<Site> site = std::nullopt) const;
  void ClearRequests();
  std::vector<CSimLogPost> LogPosts() const;
  void ClearLogPosts();

  // Canned pages: a path of a site answered with `body` (status 200)
  // instead of its normal answer, until cleared; faults still come first.
  // For the archive site the body is sent as it is: the caller packs it.
  void SetPage(Site site, const std::string& path, const std::string& body);
  void ClearPages();

  CSimArchive& Archive() { return archive_; }
  const CSimMarket& Market() const { return market_; }

 private:
  struct Listener;
  class LinkQueue;
  struct ActiveFault {
    int id = 0;
    CSimFault fault;
    int hits = 0;
  };

  bool MakeCertificates(std::string* error);
  // `base` is the site's own address, for the redirections.
  void Handle(Site site, const std::string& base, const httplib::Request& request,
              httplib::Response& response);
  // The normal answer of a site, faults aside.
  void Answer(Site site, const std::string& method, const std::string& path,
              const std::string& query, const httplib::Request& request,
              bool altered, httplib::Response& response, bool shortRows = false);
  // Turns the normal answer into what a hostile server sends (the fault
  // kinds from kBadRecords on).
  void Hostile(Site site, const CSimFault& fault, const std::string& path,
               httplib::Response& response);
  bool Stopping() const;
  // The first fault matching the request, counted as a hit; false when none.
  bool MatchFault(Site site, const std::string& path, const std::string& query,
                  CSimFault& fault, int& hit);
  // Waits `milliseconds` (for ever when negative) or until the server
  // stops; false when it stopped.
  bool WaitUnlessStopping(int64_t milliseconds);
  void Record(const CSimRequestRecord& record);
  // Counts an accepted connection of `site` and gives its number.
  int64_t CountConnection(Site site);
  void CountHandshake(Site site);
  // Makes the body of `response` travel through the link (the bandwidth
  // option), in pieces each sent once the link has carried it.
  void ThroughLink(httplib::Response& response);
  // Takes `bytes` of the link's time and waits until they have passed;
  // false when the server stopped first.
  bool AwaitLink(size_t bytes);

  const CSimMarket& market_;
  CSimServerOptions options_;
  CSimArchive archive_;
  std::vector<std::unique_ptr<Listener>> listeners_;
  std::string certFolder_;
  bool ownCertFolder_ = false;
  std::string caFile_;
  std::string certFile_;
  std::string keyFile_;

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable stopping_cv_;
  bool stopping_ = false;
  bool started_ = false;
  int nextFaultId_ = 1;
  std::vector<ActiveFault> faults_;
  std::vector<CSimRequestRecord> requests_;
  std::map<Site, CSimLinkCounts> counts_;
  int64_t connections_ = 0;  // every site's, never cleared: the last number given
  int64_t linkFreeNs_ = 0;   // when the link has carried every piece taken
  std::vector<CSimLogPost> posts_;
  std::map<std::pair<Site, std::string>, std::string> pages_;
};

#endif  // TICKORA_TOOLS_MARKET_SIM_SIM_SERVER_H_
