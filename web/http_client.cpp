#include "web/http_client.h"

#include <curl/curl.h>
#include <strings.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>

#include "support/text.h"
#include "web/site_urls.h"
#include "web/url_parts.h"

// How the outcomes of libcurl become result codes.
//
//   no easy handle, or a transfer option refused (setopt)          -1001
//   the extra CA file cannot be loaded (CURLE_SSL_CACERT_BADFILE,
//     SSL_CRL_BADFILE), a TLS engine or feature missing              -1001
//   the address, verb or body refused (setopt)                       -1003
//   CURLE_URL_MALFORMAT                                              -1005
//   the header list refused (setopt)                                 -1006
//   CURLE_COULDNT_RESOLVE_HOST, COULDNT_RESOLVE_PROXY, COULDNT_CONNECT -1002
//   the peer's certificate did not verify (PEER_FAILED_VERIFICATION:
//     an unknown authority, another host name, out of date;
//     SSL_ISSUER_ERROR, SSL_PINNEDPUBKEYNOTMATCH,
//     SSL_INVALIDCERTSTATUS)                                          -1010
//   any other failure of the TLS handshake (SSL_CONNECT_ERROR,
//     SSL_CIPHER, ...): no secure connection came about               -1002
//   CURLE_OPERATION_TIMEDOUT before the connection (with its TLS
//     handshake) was up: the connect time-out                        -1002
//   CURLE_OPERATION_TIMEDOUT after it: the stall or exchange limit    -1004
//   the transfer abandoned, at any point, because the owner's cancel
//     flag was set (by the progress callback, ABORTED_BY_CALLBACK, or
//     by the loop that drives the transfer)                            -1011
//   any other failure before the headers of the answer were complete
//     (SEND_ERROR, RECV_ERROR, GOT_NOTHING, WEIRD_SERVER_REPLY, an
//     HTTP/0.9 answer, a header line or all headers too large)       -1004
//
// Once the headers of a final answer are complete, its status decides:
// 200 gives 0 when the body arrives whole and -1004 when it breaks off
// (PARTIAL_FILE, a time limit, a broken connection), a redirection is
// followed, anything else gives minus the status.
//
// A reused connection that the server closed before it answered is not a
// failure: libcurl sends the request again on a new connection itself, and
// the hop goes on.

namespace {

// libcurl's global state is set up once, before the first handle, and kept
// until the process ends.
void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// <chrono> cannot be compiled with this library's execution character set,
// so time is taken and slept through the C library.
void Sleep(uint32_t milliseconds) {
  timespec left = {static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0) {
  }
}

// A monotonic clock in milliseconds.
int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool Cancelled(const std::atomic<std::uint8_t>* cancel) {
  return cancel != nullptr && cancel->load() != 0;
}

// Sleeps for `milliseconds` in steps short enough to notice a cancel soon
// after it is set. False when the pause was cut short by a cancel.
bool Pause(uint32_t milliseconds, const std::atomic<std::uint8_t>* cancel) {
  const int64_t end = NowMs() + milliseconds;
  for (;;) {
    if (Cancelled(cancel)) return false;
    const int64_t left = end - NowMs();
    if (left <= 0) return true;
    Sleep(static_cast<uint32_t>(
        std::min<int64_t>(left, CHttpClient::kCancelPollMs / 2)));
  }
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307;
}

// The header bytes one exchange may receive (every line of every answer).
// libcurl bounds a single line; this bounds a server that sends endless
// lines.
constexpr size_t kMaxHeaderBytes = 1 << 20;

// libcurl's own read size: the largest it offers, so that a fast download
// needs few calls.
constexpr long kCurlBufferSize = CURL_MAX_READ_SIZE;

// The body of an answer other than 200 is read and dropped up to this many
// bytes, so that its connection can carry the next request (a redirection's
// next hop); a longer one ends the exchange, and the connection with it.
constexpr uint64_t kMaxDroppedBytes = 64 << 10;

// The idle connections a cache keeps, over all servers: more than the sites
// of a run.
constexpr long kMaxKeptConnections = 16;

// SetFreshConnections.
std::atomic<bool> freshConnections{false};

// Owns a libcurl header list.
class HeaderList {
 public:
  HeaderList() = default;
  ~HeaderList() { curl_slist_free_all(list_); }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;

  bool Append(const std::string& line) {
    curl_slist* grown = curl_slist_append(list_, line.c_str());
    if (grown == nullptr) return false;
    list_ = grown;
    return true;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

std::string_view HeaderName(std::string_view line) {
  return line.substr(0, line.find(':'));
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A header line may end in one line end; inside it none may stand, and it
// needs a name of visible characters other than ":" before its colon.
bool CleanHeaderLine(const std::string& header, std::string& line) {
  line = header;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c <= 0x20 || c >= 0x7F) return false;
  }
  return line.find_first_of("\r\n") == std::string::npos;
}

// Builds the request headers: for a form post the content type first, then
// the caller's lines in order. A line whose name is already present is
// refused, not merged: each header is added only when new. "Expect:" keeps
// libcurl from announcing a large body and waiting for the server's leave.
bool BuildHeaders(bool post, const std::vector<std::string>& headers,
                  HeaderList& list) {
  std::vector<std::string> lines;
  if (post) lines.push_back("Content-Type: application/x-www-form-urlencoded");
  for (const std::string& header : headers) {
    std::string line;
    if (!CleanHeaderLine(header, line)) return false;
    for (const std::string& present : lines) {
      if (SameName(HeaderName(present), HeaderName(line))) return false;
    }
    lines.push_back(line);
  }
  bool has_expect = false;
  for (const std::string& line : lines) {
    has_expect = has_expect || SameName(HeaderName(line), "Expect");
  }
  if (!has_expect) lines.push_back("Expect:");
  for (const std::string& line : lines) {
    if (!list.Append(line)) return false;
  }
  return true;
}

// What the callbacks of one hop share.
struct Transfer {
  CURL* curl = nullptr;
  CBuffer* buffer = nullptr;
  char* receive = nullptr;  // the client's receive buffer
  size_t filled = 0;        // bytes waiting in it
  CBuffer::Handle handle = nullptr;  // open while a 200 body is received
  const std::atomic<std::uint8_t>* cancel = nullptr;  // the owner's flag
  bool cancelled = false;  // the progress callback abandoned the transfer
  uint64_t maxBody = 0;     // the size cap of the body
  uint64_t received = 0;    // body bytes taken so far
  uint64_t dropped = 0;     // body bytes of another answer, read and dropped
  bool tooLarge = false;    // the body passed maxBody
  bool writeFailed = false; // the buffer refused bytes
  bool tooSlow = false;     // the least average rate was not kept
  int64_t startMs = 0;
  int64_t graceMs = 0;

  bool headersDone = false;  // the headers of the final answer are complete
  long status = 0;           // its status
  bool openFailed = false;
  size_t headerBytes = 0;
  bool hasLocation = false;
  bool locationFits = true;
  std::string location;
  // An exception thrown by the buffer inside a callback; it must not pass
  // through libcurl's C frames, so it is carried out and thrown again.
  std::exception_ptr exception;

  // Hands the waiting bytes to the buffer; false (and writeFailed) when
  // it refuses them.
  bool Flush() {
    if (filled == 0) return true;
    const bool written = buffer->Write(handle, receive, static_cast<int32_t>(filled));
    filled = 0;
    if (!written) writeFailed = true;
    return written;
  }
};

std::string_view TrimHeaderValue(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
    value.remove_prefix(1);
  }
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' ||
                            value.back() == '\r' || value.back() == '\n')) {
    value.remove_suffix(1);
  }
  return value;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  const size_t length = size * count;
  try {
    t.headerBytes += length;
    if (t.headerBytes > kMaxHeaderBytes) return 0;
    // Lines after the final answer's headers are trailers of its body.
    if (t.headersDone) return length;
    const std::string_view line(data, length);
    if (line.starts_with("HTTP/")) {
      // A new answer: an earlier interim one leaves nothing behind.
      t.hasLocation = false;
      t.locationFits = true;
      t.location.clear();
      return length;
    }
    if (line == "\r\n" || line == "\n") {
      long status = 0;
      curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &status);
      if (status >= 100 && status < 200) return length;  // the real one follows
      t.status = status;
      t.headersDone = true;
      if (status == 200) {
        t.handle = t.buffer->OpenWrite();
        if (t.handle == nullptr) {
          t.openFailed = true;
          return 0;
        }
      }
      return length;
    }
    // The first location counts. One longer than kMaxLocation is not kept.
    constexpr std::string_view kLocation = "location:";
    if (!t.hasLocation && line.size() >= kLocation.size() &&
        strncasecmp(line.data(), kLocation.data(), kLocation.size()) == 0) {
      const std::string_view value =
          TrimHeaderValue(line.substr(kLocation.size()));
      t.hasLocation = true;
      t.locationFits = value.size() <= CHttpClient::kMaxLocation;
      if (t.locationFits) t.location.assign(value);
    }
    return length;
  } catch (...) {
    t.exception = std::current_exception();
    return 0;
  }
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  const size_t length = size * count;
  // Only a 200 answer has a body worth keeping; a short body of any other
  // is dropped, a longer one ends the exchange.
  if (t.handle == nullptr) {
    t.dropped += length;
    return t.dropped <= kMaxDroppedBytes ? length : 0;
  }
  t.received += length;
  if (t.received > t.maxBody) {
    t.tooLarge = true;
    return 0;
  }
  try {
    const size_t capacity = CHttpClient::kReceiveBufferSize;
    size_t done = 0;
    while (done < length) {
      if (t.filled == capacity && !t.Flush()) return 0;
      const size_t piece = std::min(length - done, capacity - t.filled);
      std::memcpy(t.receive + t.filled, data + done, piece);
      t.filled += piece;
      done += piece;
    }
    return length;
  } catch (...) {
    t.exception = std::current_exception();
    return 0;
  }
}

// libcurl calls this while it connects, waits and transfers; a non-zero
// return abandons the transfer (CURLE_ABORTED_BY_CALLBACK).
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  Transfer& t = *static_cast<Transfer*>(user);
  if (Cancelled(t.cancel)) {
    t.cancelled = true;
    return 1;
  }
  const int64_t elapsed = NowMs() - t.startMs;
  if (elapsed > t.graceMs &&
      t.received * 1000 < static_cast<uint64_t>(elapsed) *
                              CHttpClient::kMinAverageBytesPerSecond) {
    t.tooSlow = true;
    return 1;
  }
  return 0;
}

// Runs the transfer of `t` to its end on the client's multi handle and
// gives its outcome. The loop waits kCancelPollMs at most for the socket
// before it lets libcurl run again - and so call OnProgress, which is
// where a cancel is noticed. (curl_easy_perform waits up to a second while
// nothing arrives, and would let a cancel wait as long.) The loop looks at
// the flag itself as well, for any phase in which libcurl might not call
// OnProgress (a slow name lookup): it then stops driving the transfer, and
// removing the handle abandons it, closing its connection. A transfer that
// ended whole leaves its connection in the cache.
CURLcode Perform(Transfer& t, CURLM* multi) {
  CURLcode result = CURLE_FAILED_INIT;
  if (curl_multi_add_handle(multi, t.curl) == CURLM_OK) {
    // A failure of the multi interface itself, midway, counts as a broken
    // exchange.
    result = CURLE_RECV_ERROR;
    int running = 1;
    for (;;) {
      if (curl_multi_perform(multi, &running) != CURLM_OK || running == 0) break;
      if (Cancelled(t.cancel)) {
        t.cancelled = true;
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      if (curl_multi_poll(multi, nullptr, 0, CHttpClient::kCancelPollMs, nullptr) !=
          CURLM_OK) {
        break;
      }
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == t.curl) {
        result = message->data.result;
      }
    }
    curl_multi_remove_handle(multi, t.curl);
  }
  return result;
}

// True when the connection, with its TLS handshake for https, was up.
bool Connected(CURL* curl, int32_t secure) {
  curl_off_t connect = 0;
  curl_off_t handshake = 0;
  curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connect);
  curl_easy_getinfo(curl, CURLINFO_APPCONNECT_TIME_T, &handshake);
  return connect > 0 && (secure == 0 || handshake > 0);
}

// A failure before the headers of a final answer were complete.
int32_t FailureCode(CURL* curl, CURLcode rc, int32_t secure) {
  switch (rc) {
    case CURLE_FAILED_INIT:
    case CURLE_NOT_BUILT_IN:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
      return CHttpClient::kErrorSession;
    case CURLE_URL_MALFORMAT:
      return CHttpClient::kErrorAddress;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
      return CHttpClient::kErrorConnect;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return CHttpClient::kErrorCertificate;
    case CURLE_OPERATION_TIMEDOUT:
      return Connected(curl, secure) ? CHttpClient::kErrorSend
                                     : CHttpClient::kErrorConnect;
    default:
      return CHttpClient::kErrorSend;
  }
}

// What one hop ended with.
struct HopResult {
  int32_t code = CHttpClient::kErrorSend;  // unless a redirection
  bool redirect = false;
  bool hasLocation = false;
  bool locationFits = true;
  std::string location;
};

struct HopSettings {
  const char* agent;
  long connectTimeoutMs;
  long stallTimeoutS;
  long stallBytesPerSecond;
  long exchangeTimeoutMs;  // 0 for none
  uint64_t maxBody;
  int64_t graceMs;
  char* receive;
  const std::atomic<std::uint8_t>* cancel;  // may be null
};

template <typename T>
bool Set(CURL* curl, CURLoption option, T value) {
  return curl_easy_setopt(curl, option, value) == CURLE_OK;
}

// One request and its answer, on the client's handles: a kept connection
// to the server when there is one, else a new one. Every option is set
// anew; the connections and TLS sessions survive the reset.
HopResult Hop(const HopSettings& settings, const CUrlParts& address,
              const HeaderList& headers, const std::string* body,
              CBuffer& buffer, CURL* curl, CURLM* multi) {
  HopResult result;
  if (curl == nullptr || multi == nullptr) {
    result.code = CHttpClient::kErrorSession;
    return result;
  }
  curl_easy_reset(curl);
  Transfer t;
  t.curl = curl;
  t.buffer = &buffer;
  t.receive = settings.receive;
  t.cancel = settings.cancel;
  t.maxBody = settings.maxBody;
  t.graceMs = settings.graceMs;
  t.startMs = NowMs();

  const std::string ca_file = ExtraCaFile();
  // The extra file replaces only libcurl's default CA file; its default CA
  // directory (the system's certificates) stays in use beside it.
  const bool session =
      Set(curl, CURLOPT_NOSIGNAL, 1L) &&
      Set(curl, CURLOPT_USERAGENT, settings.agent) &&
      Set(curl, CURLOPT_PROTOCOLS_STR, "http,https") &&
      Set(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
      Set(curl, CURLOPT_FOLLOWLOCATION, 0L) &&
      Set(curl, CURLOPT_SSL_VERIFYPEER, 1L) &&
      Set(curl, CURLOPT_SSL_VERIFYHOST, 2L) &&
      (ca_file.empty() || Set(curl, CURLOPT_CAINFO, ca_file.c_str())) &&
      Set(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) &&
      Set(curl, CURLOPT_CONNECTTIMEOUT_MS, settings.connectTimeoutMs) &&
      Set(curl, CURLOPT_LOW_SPEED_LIMIT, settings.stallBytesPerSecond) &&
      Set(curl, CURLOPT_LOW_SPEED_TIME, settings.stallTimeoutS) &&
      Set(curl, CURLOPT_TIMEOUT_MS, settings.exchangeTimeoutMs) &&
      Set(curl, CURLOPT_BUFFERSIZE, kCurlBufferSize) &&
      Set(curl, CURLOPT_HEADERFUNCTION, &OnHeader) &&
      Set(curl, CURLOPT_HEADERDATA, static_cast<void*>(&t)) &&
      Set(curl, CURLOPT_WRITEFUNCTION, &OnBody) &&
      Set(curl, CURLOPT_WRITEDATA, static_cast<void*>(&t)) &&
      Set(curl, CURLOPT_NOPROGRESS, 0L) &&
      Set(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress) &&
      Set(curl, CURLOPT_XFERINFODATA, static_cast<void*>(&t)) &&
      (!freshConnections ||
       (Set(curl, CURLOPT_FRESH_CONNECT, 1L) && Set(curl, CURLOPT_FORBID_REUSE, 1L) &&
        Set(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L)));
  const std::string url = address.Compose();
  const bool request =
      session && Set(curl, CURLOPT_URL, url.c_str()) &&
      Set(curl, CURLOPT_PATH_AS_IS, 1L) &&
      (address.userName.empty() ||
       (Set(curl, CURLOPT_USERNAME, address.userName.c_str()) &&
        Set(curl, CURLOPT_PASSWORD, address.password.c_str()))) &&
      (body == nullptr
           ? Set(curl, CURLOPT_HTTPGET, 1L)
           : (Set(curl, CURLOPT_POST, 1L) &&
              Set(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                  static_cast<curl_off_t>(body->size())) &&
              Set(curl, CURLOPT_POSTFIELDS, body->c_str())));
  const bool header_set =
      request && Set(curl, CURLOPT_HTTPHEADER, headers.get());

  if (!session) {
    result.code = CHttpClient::kErrorSession;
  } else if (!request) {
    result.code = CHttpClient::kErrorRequest;
  } else if (!header_set) {
    result.code = CHttpClient::kErrorHeader;
  } else {
    const CURLcode rc = Perform(t, multi);
    bool whole = t.handle != nullptr && rc == CURLE_OK;
    if (whole) {
      // A 200 answer whose body came whole, marked by a last, empty piece.
      try {
        whole = t.Flush() && buffer.Write(t.handle, t.receive, 0);
        if (!whole) t.writeFailed = true;
      } catch (...) {
        t.exception = std::current_exception();
      }
    }
    if (whole || (t.handle != nullptr && t.exception)) {
      buffer.Close(t.handle);
      result.code = CHttpClient::kOk;
    } else if (t.handle != nullptr) {
      // A 200 answer whose body broke off or was cancelled. What arrived of
      // it is emptied out, so that nobody takes the part for the whole page
      // or file.
      buffer.Close(t.handle);
      if (!t.exception) {
        try {
          CBuffer::Handle emptied = buffer.OpenWrite();
          if (emptied != nullptr) buffer.Close(emptied);
        } catch (...) {
          t.exception = std::current_exception();
        }
      }
      result.code = t.cancelled     ? CHttpClient::kErrorCancelled
                    : t.tooLarge    ? CHttpClient::kErrorTooLarge
                    : t.writeFailed ? CHttpClient::kErrorWrite
                    : t.tooSlow     ? CHttpClient::kErrorTooSlow
                                    : CHttpClient::kErrorSend;
    } else if (t.cancelled) {
      result.code = CHttpClient::kErrorCancelled;
    } else if (t.openFailed) {
      result.code = CHttpClient::kErrorBufferOpen;
    } else if (t.tooSlow) {
      result.code = CHttpClient::kErrorTooSlow;
    } else if (t.headersDone && IsRedirect(t.status)) {
      result.redirect = true;
      result.hasLocation = t.hasLocation;
      result.locationFits = t.locationFits;
      result.location = std::move(t.location);
    } else if (t.headersDone) {
      result.code = -static_cast<int32_t>(t.status);
    } else {
      result.code = FailureCode(curl, rc, address.secure);
    }
  }
  if (t.exception) std::rethrow_exception(t.exception);
  return result;
}

}  // namespace

CHttpClient::CHttpClient()
    : agentName_("CHttpClient"), receive_(new char[kReceiveBufferSize]) {
  InitCurlOnce();
  curl_ = curl_easy_init();
  multi_ = curl_multi_init();
  if (multi_ != nullptr) {
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kMaxKeptConnections);
  }
}

CHttpClient::~CHttpClient() {
  // The easy handle first: it leaves a shared cache, and is in no multi
  // handle between requests.
  if (curl_ != nullptr) curl_easy_cleanup(curl_);
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

void CHttpClient::ShareConnections(CHttpConnections* connections) {
  if (curl_ == nullptr) return;
  curl_easy_setopt(curl_, CURLOPT_SHARE,
                   connections != nullptr ? connections->share_ : nullptr);
}

void CHttpClient::SetFreshConnections(bool fresh) { freshConnections = fresh; }

CHttpConnections::CHttpConnections() {
  InitCurlOnce();
  CURLSH* share = curl_share_init();
  if (share != nullptr &&
      (curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK ||
       curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK ||
       curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK)) {
    curl_share_cleanup(share);
    share = nullptr;
  }
  share_ = share;
}

CHttpConnections::~CHttpConnections() {
  if (share_ != nullptr) curl_share_cleanup(share_);
}

int32_t CHttpClient::Get(const std::string& url, CBuffer& buffer,
                         const std::vector<std::string>& headers) {
  return Run(url, headers, nullptr, buffer);
}

int32_t CHttpClient::Post(const std::string& url,
                          const std::vector<std::string>& headers,
                          const CCGIParams& params, CBuffer& buffer) {
  return Run(url, headers, &params, buffer);
}

bool CHttpClient::IsTransient(int32_t code) {
  return code == kErrorSend || code == kErrorConnect || code == kErrorTooSlow ||
         code == -500;
}

int32_t CHttpClient::Run(const std::string& url,
                         const std::vector<std::string>& headers,
                         const CCGIParams* params, CBuffer& buffer) {
  const int32_t attempts = std::max(attempts_, 1);
  int32_t code = kErrorSend;
  for (int32_t attempt = 0; attempt < attempts; ++attempt) {
    code = Request(url, headers, params, buffer);
    if (!IsTransient(code)) return code;
    // The pause follows the last attempt too, as it follows every
    // transient failure. A cancel ends it, and the request with it.
    if (!Pause(retryPauseMs_, cancel_)) return kErrorCancelled;
  }
  return code;
}

int32_t CHttpClient::Request(const std::string& url,
                             const std::vector<std::string>& headers,
                             const CCGIParams* params, CBuffer& buffer) {
  CUrlParts address;
  if (!address.Parse(url)) return kErrorAddress;
  HeaderList header_list;
  if (!BuildHeaders(params != nullptr, headers, header_list)) {
    return kErrorHeader;
  }
  const std::string body = params != nullptr ? params->EncodeForm() : "";
  HopSettings settings = {
      agentName_.c_str(), connectTimeoutMs_,
      std::max<long>(stallTimeoutS_, 1), kStallBytesPerSecond, 0,
      maxBodyBytes_, rateGraceMs_, receive_.get(), cancel_};
  const int64_t deadline = NowMs() + exchangeTimeoutMs_;

  // The verb, the body and the headers stay the same on every hop.
  for (int32_t hop = 0;; ++hop) {
    if (Cancelled(cancel_)) return kErrorCancelled;
    if (exchangeTimeoutMs_ > 0) {
      // Each hop has what the earlier ones left of the exchange's time.
      const int64_t left = deadline - NowMs();
      if (left <= 0) return kErrorSend;
      settings.exchangeTimeoutMs = static_cast<long>(left);
    }
    HopResult result = Hop(settings, address, header_list,
                           params != nullptr ? &body : nullptr, buffer, curl_, multi_);
    if (!result.redirect) return result.code;
    if (!result.hasLocation) return kErrorNoLocation;
    // A relative location is read against the address that gave it.
    if (!result.locationFits || !address.Resolve(result.location)) {
      return kErrorLocation;
    }
    // Hop 0 is the caller's request; kMaxRedirects redirections are
    // followed, and one more gives up.
    if (hop == kMaxRedirects) return kErrorTooManyRedirects;
  }
}

std::string CHttpClient::GetMessage(int32_t code) {
  switch (code) {
    case kOk:
      return "成功";
    case kErrorBufferOpen:
      return "ダウンロードしたデータを保存できませんでした";
    case kErrorSession:
      return "インターネット接続を準備できませんでした";
    case kErrorConnect:
      return "サーバーに接続できませんでした";
    case kErrorRequest:
      return "HTTPリクエストを作成できませんでした";
    case kErrorSend:
      return "HTTPリクエストの送信または応答の受信に失敗しました";
    case kErrorAddress:
      return "URLを解析できませんでした";
    case kErrorHeader:
      return "HTTPリクエストヘッダーを追加できませんでした";
    case kErrorNoLocation:
      return "リダイレクト先が示されませんでした";
    case kErrorLocation:
      return "リダイレクト先のURLを解析できませんでした";
    case kErrorTooManyRedirects:
      return "リダイレクトの回数が上限を超えました";
    case kErrorCertificate:
      return "サーバーの証明書を検証できませんでした";
    case kErrorCancelled:
      return "ダウンロードを中止しました";
    case kErrorTooLarge:
      return "サーバーの応答が大きすぎるので受信を中止しました";
    case kErrorWrite:
      return "受信したデータを書き込めないので受信を中止しました";
    case kErrorTooSlow:
      return "サーバーの応答が遅すぎるので受信を中止しました";
    default:
      break;
  }
  if (code < 0 && code > -1000) {
    return StringFormat("HTTPサーバーがステータスコード%dを返しました", -code);
  }
  return StringFormat("不明なエラー(%d)が発生しました", code);
}
