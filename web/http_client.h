#ifndef TICKORA_WEB_HTTP_CLIENT_H_
#define TICKORA_WEB_HTTP_CLIENT_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "series/buffer.h"

// CHttpClient performs one HTTP or HTTPS exchange (GET, or POST of a form)
// on libcurl and streams the body of a 200 answer into a CBuffer: a
// CInflateBuffer for archive files (unpacked as the bytes arrive), a
// CBufferString for pages. It follows
// redirections itself (301, 302, 303 and 307, at most kMaxRedirects hops,
// each with the same verb, body and headers), retries transient failures,
// and reports every outcome as one signed result code (below).
//
// Every exchange is bounded in size (SetMaxBodyBytes) and in time (the
// limits below and a least average rate after a grace period), and a buffer
// that refuses bytes (CBuffer::Write false: a full disk, an unpacked size
// cap) ends the exchange at once with kErrorWrite, so no server can make
// the client take more memory, disk or time than these bounds.
//
// The client owns a receive buffer of 1 MiB, allocated by the constructor;
// every body passes through it on its way to the CBuffer, so a body of any
// size is written out in pieces of at most 1 MiB and never held whole. A
// complete body ends with one write of 0 bytes (an empty body is that write
// alone). A body that breaks off - short of its Content-Length, chunked
// without its last chunk, or stalled (see the time limits below) - fails
// the exchange with kErrorSend, retried like any transient failure, and the
// buffer is then opened for writing once more and closed empty: no part of
// a body is ever left in it looking whole. The buffer is opened only for a
// 200 answer; the body of any other answer is read and dropped when it is
// short (so that its connection stays usable), and ends the exchange when
// it is not.
//
// Connections are kept: the client holds one libcurl handle for its
// lifetime, and a connection (with its TLS session) stays open after an
// exchange, to carry the next request to the same server - the next hop of
// a redirection included - until the server closes it, it has been idle for
// about two minutes, or the client goes. The connections live in the
// client's own cache, or in a CHttpConnections that several clients share
// (ShareConnections), so that the readers of one run reach each site over
// one connection. A kept connection that the server has closed meanwhile
// is replaced by a new one within the same attempt: libcurl sends the
// request again on a fresh connection when a reused one gave no answer at
// all, so this counts no attempt and takes no pause.
//
// The attempt count, the pause between attempts and the time limits are
// members that the owner may change between requests; the defaults suit
// the setup run (the reasons are given with them below).
//
// A request can be cancelled from another thread through a flag that the
// owner hands over (SetCancelFlag): see there.
//
// Proxies are taken from the environment (http_proxy, https_proxy,
// no_proxy) by libcurl's own rules. HTTPS peers are always verified, against
// the system's certificate authorities and those of the file named by
// TICKORA_CA_FILE (see site_urls.h).
//
// One client serves one thread at a time: the receive buffer is a member.
// The client throws nothing of its own. An exception thrown by the CBuffer
// (a memory buffer that runs out of memory) is passed on to the caller,
// after the transfer has been cleaned up.
class CHttpConnections;

class CHttpClient {
 public:
  // Result codes. A code from -1 to -999 is minus an HTTP status other
  // than 200, 301, 302, 303 and 307 (a 404 gives -404).
  enum : int32_t {
    kOk = 0,                      // status 200, the body is in the buffer
    kErrorBufferOpen = -1000,     // the buffer could not be opened to write
    kErrorSession = -1001,        // the transfer could not be set up
    kErrorConnect = -1002,        // no connection to the server
    kErrorRequest = -1003,        // the request could not be formed
    kErrorSend = -1004,           // sending, or receiving the answer, failed
    kErrorAddress = -1005,        // not a complete http or https address
    kErrorHeader = -1006,         // a request header could not be added
    kErrorNoLocation = -1007,     // a redirection without a location
    kErrorLocation = -1008,       // a location that is not a usable address
    kErrorTooManyRedirects = -1009,  // more than kMaxRedirects hops
    kErrorCertificate = -1010,    // the server's certificate did not verify
    kErrorCancelled = -1011,      // the owner's cancel flag was set
    kErrorTooLarge = -1012,       // the body passed the size cap: not retried
    kErrorWrite = -1013,          // the buffer refused the body's bytes
    kErrorTooSlow = -1014,        // the body came slower than the least rate
  };

  static constexpr int32_t kDefaultAttempts = 5;
  // The most bytes of one answer's body by default: a page of the sites is
  // well under a megabyte, so tens of megabytes is room enough for any real
  // one and bounds the memory an endless or absurd answer can take. The
  // archive client sets a cap of its own.
  static constexpr uint64_t kDefaultMaxBodyBytes = 32ull << 20;
  // After this long an exchange must have moved kMinAverageBytesPerSecond
  // on average, or it is abandoned (kErrorTooSlow, retried like a stall):
  // a server that dribbles just above the stall rate can no longer hold a
  // run for ever, while a large archive file on a slow line (a megabit a
  // second moves about 120 KB) still comes through.
  static constexpr int32_t kDefaultRateGraceMs = 60000;
  static constexpr uint32_t kMinAverageBytesPerSecond = 4096;
  static constexpr uint32_t kDefaultRetryPauseMs = 3000;
  static constexpr int32_t kReceiveBufferSize = 0x100000;
  static constexpr int32_t kMaxRedirects = 10;
  // A location longer than this is refused as unusable (kErrorLocation).
  static constexpr size_t kMaxLocation = 1023;

  // The name/value pairs of a form post, in the order they were added.
  class CCGIParams {
   public:
    using Entry = std::pair<std::string, std::string>;

    CCGIParams() = default;
    virtual ~CCGIParams() = default;

    // Appends a pair; a name may occur more than once.
    void Add(const std::string& name, const std::string& value);

    // "name=value" for every pair in order, joined by "&", with names and
    // values passed through UrlEncode; empty for no pairs.
    std::string EncodeForm() const;

    const std::vector<Entry>& Entries() const { return entries_; }

   private:
    std::vector<Entry> entries_;
  };

  CHttpClient();
  // Closes the connections of the client's own cache.
  virtual ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // The cache of open connections, TLS sessions and resolved names that the
  // client uses from the next request on: `connections`, shared with other
  // clients, or the client's own when null (the default). Not owned; it
  // must outlive the client or be replaced first, and every client that
  // shares it must be used from the same one thread at a time.
  void ShareConnections(CHttpConnections* connections);

  // For benchmarks only: true makes every exchange of every client, from the
  // next one on, open a connection and TLS session of its own and close it
  // at its end, as a client that kept nothing would; false (the default)
  // keeps them. So one run of a benchmark can measure both.
  static void SetFreshConnections(bool fresh);

  // GET of `url` into `buffer`. `headers` are complete header lines such
  // as "Accept-Encoding: gzip" (a line end is allowed and dropped), sent in
  // order; a line without a proper name, or whose name is already present,
  // gives kErrorHeader. The path and query go out exactly as written.
  // Returns the result code of the last attempt.
  [[nodiscard]] int32_t Get(const std::string& url, CBuffer& buffer,
              const std::vector<std::string>& headers = {});

  // POST of the form `params` ("application/x-www-form-urlencoded") to
  // `url`, the answer into `buffer`; otherwise as Get.
  [[nodiscard]] int32_t Post(const std::string& url, const std::vector<std::string>& headers,
               const CCGIParams& params, CBuffer& buffer);

  // Attempts in all for a transient failure; a value below 1 means 1.
  void SetAttempts(int32_t attempts) { attempts_ = attempts; }
  [[nodiscard]] int32_t Attempts() const { return attempts_; }
  // The pause after every transient failure, the last one included.
  void SetRetryPause(uint32_t milliseconds) { retryPauseMs_ = milliseconds; }
  [[nodiscard]] uint32_t RetryPause() const { return retryPauseMs_; }
  // Longest wait for a connection, name resolution and TLS handshake
  // included (kErrorConnect).
  void SetConnectTimeout(int32_t milliseconds) { connectTimeoutMs_ = milliseconds; }
  [[nodiscard]] int32_t ConnectTimeout() const { return connectTimeoutMs_; }
  // An exchange that moves fewer than kStallBytesPerSecond bytes a second
  // for this many seconds (at least 1) once connected is abandoned
  // (kErrorSend): a server that never answers, or stops in mid-body.
  void SetStallTimeout(int32_t seconds) { stallTimeoutS_ = seconds; }
  [[nodiscard]] int32_t StallTimeout() const { return stallTimeoutS_; }
  // Longest time for one whole exchange, the hops of its redirections
  // included (kErrorSend, or kErrorConnect while still connecting); 0 or
  // less (the default 0) for no limit, so that a large download that keeps
  // flowing is never cut. For small requests whose answer may as well be
  // lost, such as the usage record.
  void SetExchangeTimeout(int32_t milliseconds) { exchangeTimeoutMs_ = milliseconds; }
  [[nodiscard]] int32_t ExchangeTimeout() const { return exchangeTimeoutMs_; }
  // The size cap of one body: passing it abandons the exchange with
  // kErrorTooLarge, which is not retried (the same server would send the
  // same again). The bytes taken so far are emptied out of the buffer as
  // for a cut body.
  void SetMaxBodyBytes(uint64_t bytes) { maxBodyBytes_ = bytes; }
  uint64_t MaxBodyBytes() const { return maxBodyBytes_; }
  // The time after which the least average rate applies (kErrorTooSlow).
  void SetRateGrace(int32_t milliseconds) { rateGraceMs_ = milliseconds; }
  [[nodiscard]] int32_t RateGrace() const { return rateGraceMs_; }

  // The cancel flag: not owned, null (the default) for none; it must stay
  // valid while a request runs. Another thread sets it to non-zero to stop
  // the request in progress: a transfer under way, connecting included, is
  // abandoned within about kCancelPollMs, a pause between attempts ends at
  // once, and no further attempt or redirection hop is started. The request
  // then gives kErrorCancelled, which is final; a 200 body that was
  // arriving is emptied out of the buffer as a cut one is. A flag that is
  // already set when Get or Post is called sends nothing at all. An
  // exchange that ended before the flag was seen keeps its own result.
  void SetCancelFlag(const std::atomic<std::uint8_t>* cancel) { cancel_ = cancel; }
  const std::atomic<std::uint8_t>* CancelFlag() const { return cancel_; }
  // The longest time between two looks at the cancel flag.
  static constexpr int32_t kCancelPollMs = 50;

  // -1004, -1002, -1014 and -500: worth another attempt. A certificate that does
  // not verify (-1010) will not verify a few seconds later either, and a
  // cancel (-1011) is the owner's wish, not a failure.
  [[nodiscard]] static bool IsTransient(int32_t code);

  // A Japanese text (CP932) for any result code of this client.
  static std::string GetMessage(int32_t code);

 private:
  // Time limits. A connection, with name resolution and TLS handshake,
  // takes well under a second when the server is up; 10 s still leaves
  // room for a resolver that falls over to its second server (the system
  // resolver waits 5 s for the first) and for slow lines. Once connected,
  // a server that delivers less than 64 bytes a second for 10 s in a row
  // is treated as gone: the sites answer a request within a second or two,
  // and a download that flows at all moves far more. So a server that
  // accepts and then never answers, or never completes the TLS handshake,
  // costs at most 10 s an attempt, and with 5 attempts and their 3 s
  // pauses a Get against it gives up after about 65 s in all, not the
  // minutes a dead server would otherwise hold the run. Neither limit cuts
  // a large download that keeps flowing: by default there is no limit on
  // the whole exchange.
  static constexpr int32_t kDefaultConnectTimeoutMs = 10000;
  static constexpr int32_t kDefaultStallTimeoutS = 10;
  static constexpr int32_t kStallBytesPerSecond = 64;

  // The attempt loop around Request.
  [[nodiscard]] int32_t Run(const std::string& url, const std::vector<std::string>& headers,
              const CCGIParams* params, CBuffer& buffer);
  // One exchange: the redirection loop around single requests.
  [[nodiscard]] int32_t Request(const std::string& url,
                  const std::vector<std::string>& headers,
                  const CCGIParams* params, CBuffer& buffer);

  const std::string agentName_;
  int32_t attempts_ = kDefaultAttempts;
  uint32_t retryPauseMs_ = kDefaultRetryPauseMs;
  int32_t connectTimeoutMs_ = kDefaultConnectTimeoutMs;
  int32_t stallTimeoutS_ = kDefaultStallTimeoutS;
  int32_t exchangeTimeoutMs_ = 0;
  uint64_t maxBodyBytes_ = kDefaultMaxBodyBytes;
  int32_t rateGraceMs_ = kDefaultRateGraceMs;
  const std::atomic<std::uint8_t>* cancel_ = nullptr;
  std::unique_ptr<char[]> receive_;
  // libcurl's handles, for the client's lifetime: the easy handle keeps its
  // TLS sessions, the multi handle that drives it the client's own cache
  // of connections. Null when libcurl could not make them (every request
  // then gives kErrorSession).
  void* curl_ = nullptr;   // CURL*
  void* multi_ = nullptr;  // CURLM*
};

// CHttpConnections is a cache of open connections, TLS sessions and
// resolved names that several clients share (CHttpClient::ShareConnections):
// a request to a server that any of them has an idle connection to goes out
// on that connection. A setup run's page readers share one, so that each
// site is reached over one connection for the whole run, whichever reader
// asks. The clients that share it must be used from one thread at a time
// (a connection cannot be shared between threads), and it must outlive
// them; destroying it closes its connections.
class CHttpConnections {
 public:
  CHttpConnections();
  ~CHttpConnections();
  CHttpConnections(const CHttpConnections&) = delete;
  CHttpConnections& operator=(const CHttpConnections&) = delete;

 private:
  friend class CHttpClient;
  void* share_ = nullptr;  // CURLSH*; null when libcurl could not make one
};

#endif  // TICKORA_WEB_HTTP_CLIENT_H_
