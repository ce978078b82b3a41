#include "tools/market-sim/sim_server.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "series/archive_file.h"
#include "tools/market-sim/sim_hostile.h"
#include "tools/market-sim/sim_pages.h"

namespace {

const char* const kSiteNames[] = {
    "archive",      "log",           "finance",    "finance-stocks",
    "stock-list",   "index-portal",  "broker-mobile", "stock-info",
    "futures-data", "dow-forecast",  "broker-futures"};

// Paths of the server's own redirections; they carry the original path
// and query after them.
const std::string kHopPath = "/__sim/hop/";
const std::string kFinalPath = "/__sim/final";
const std::string kLoopPath = "/__sim/loop";

// The number of the connection the calling thread serves: set by the
// listener's task queue before the server reads from it.
thread_local int64_t tConnection = 0;

// Nanoseconds of a monotonic clock.
int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The worker threads of each site; an idle kept-alive connection holds one.
constexpr size_t kThreadsPerSite = 16;

// Milliseconds since 1970. (<chrono> cannot be compiled with the library's
// execution character set, so the C library's clock is used.)
int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

bool ParseInt(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty() || text.size() > 12) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= low && value <= high;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Form decoding: "+" is a blank, "%XX" a byte; a broken escape stays as is.
std::string FormDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> DecodeForm(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> fields;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(start, end - start);
    if (!part.empty()) {
      const size_t eq = part.find('=');
      if (eq == std::string::npos) {
        fields.emplace_back(FormDecode(part), "");
      } else {
        fields.emplace_back(FormDecode(part.substr(0, eq)), FormDecode(part.substr(eq + 1)));
      }
    }
    start = end + 1;
  }
  return fields;
}

bool IsForm(const httplib::Request& request) {
  const std::string type = request.get_header_value("Content-Type");
  return StartsWith(type, "application/x-www-form-urlencoded");
}

// ---- Certificates ----------------------------------------------------------

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) return false;
  const bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

// A certificate for `key`, signed by `issuer` (null: by itself), valid
// from an hour ago for a year; a server's for the names `altNames`.
Cert NewCert(const char* name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
             bool authority, long serial, const std::string& altNames = "") {
  Cert cert(X509_new(), &X509_free);
  X509* c = cert.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), 365L * 86400);
  X509_set_pubkey(c, key);
  X509_NAME* subject = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : subject);
  X509* signer = issuer ? issuer : c;
  bool ok = AddExtension(c, signer, NID_subject_key_identifier, "hash") &&
            AddExtension(c, signer, NID_authority_key_identifier, "keyid:always");
  if (authority) {
    ok = ok && AddExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE") &&
         AddExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    ok = ok && AddExtension(c, signer, NID_basic_constraints, "critical,CA:FALSE") &&
         AddExtension(c, signer, NID_key_usage, "critical,digitalSignature") &&
         AddExtension(c, signer, NID_ext_key_usage, "serverAuth") &&
         AddExtension(c, signer, NID_subject_alt_name, altNames.c_str());
  }
  if (!ok || X509_sign(c, issuerKey, EVP_sha256()) == 0) return Cert(nullptr, &X509_free);
  return cert;
}

bool WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok = cert != nullptr
                      ? PEM_write_X509(f, cert) == 1
                      : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

// ---- Faults ------------------------------------------------------------------

const char* SimSiteName(Site site) {
  const size_t i = static_cast<size_t>(site);
  return i < std::size(kSiteNames) ? kSiteNames[i] : "?";
}

bool SimSiteFromName(const std::string& name, Site& site) {
  for (const CSiteSetting& setting : SiteSettings()) {
    if (name == SimSiteName(setting.site)) {
      site = setting.site;
      return true;
    }
  }
  return false;
}

bool ParseSimFault(const std::string& text, CSimFault& fault) {
  const size_t at = text.find('@');
  if (at == std::string::npos) return false;
  const std::string head = text.substr(0, at);
  std::string target = text.substr(at + 1);
  CSimFault f;

  const size_t colon = target.find(':');
  if (colon != std::string::npos && colon > 0 && target[0] != '/') {
    Site site;
    if (!SimSiteFromName(target.substr(0, colon), site)) return false;
    f.site = site;
    target = target.substr(colon + 1);
  }
  if (target.empty() || target[0] != '/') return false;
  if (target.back() == '*') {
    f.prefix = true;
    target.pop_back();
  }
  f.path = target;

  const size_t eq = head.find('=');
  const std::string kind = head.substr(0, eq);
  const std::string value = eq == std::string::npos ? "" : head.substr(eq + 1);
  const bool hasValue = eq != std::string::npos;
  long long n = 0;
  if (kind == "status") {
    if (!ParseInt(value, 100, 599, n)) return false;
    f.kind = CSimFault::Kind::kStatus;
    f.status = static_cast<int>(n);
  } else if (kind == "fail-first") {
    f.kind = CSimFault::Kind::kFailFirst;
    const size_t slash = value.find('/');
    if (!ParseInt(value.substr(0, slash), 1, 1000000, n)) return false;
    f.count = static_cast<int>(n);
    if (slash != std::string::npos) {
      if (!ParseInt(value.substr(slash + 1), 100, 599, n)) return false;
      f.status = static_cast<int>(n);
    }
  } else if (kind == "cut") {
    if (!ParseInt(value, 0, 1LL << 40, n)) return false;
    f.kind = CSimFault::Kind::kCutBody;
    f.bytes = static_cast<size_t>(n);
  } else if (kind == "corrupt-gzip" && !hasValue) {
    f.kind = CSimFault::Kind::kCorruptGzip;
  } else if (kind == "delay") {
    if (!ParseInt(value, 0, 3600000, n)) return false;
    f.kind = CSimFault::Kind::kDelay;
    f.delayMs = static_cast<int>(n);
  } else if (kind == "hang" && !hasValue) {
    f.kind = CSimFault::Kind::kHang;
  } else if (kind == "redirect") {
    if (!ParseInt(value, 1, 1000, n)) return false;
    f.kind = CSimFault::Kind::kRedirectChain;
    f.count = static_cast<int>(n);
  } else if (kind == "redirect-loop" && !hasValue) {
    f.kind = CSimFault::Kind::kRedirectLoop;
  } else if (kind == "altered" && !hasValue) {
    f.kind = CSimFault::Kind::kAlteredStructure;
  } else if (kind == "short-rows" && !hasValue) {
    f.kind = CSimFault::Kind::kShortRows;
  } else if (kind == "bad-records" && !hasValue) {
    f.kind = CSimFault::Kind::kBadRecords;
  } else if (kind == "alternating-codes" && !hasValue) {
    f.kind = CSimFault::Kind::kAlternatingCodes;
  } else if (kind == "gzip-bomb") {
    if (!ParseInt(value, 0, 1LL << 40, n)) return false;
    f.kind = CSimFault::Kind::kGzipBomb;
    f.bytes = static_cast<size_t>(n);
  } else if (kind == "endless" && !hasValue) {
    f.kind = CSimFault::Kind::kEndless;
  } else if (kind == "hostile-codes" && !hasValue) {
    f.kind = CSimFault::Kind::kHostileCodes;
  } else if (kind == "non-finite" && !hasValue) {
    f.kind = CSimFault::Kind::kNonFinite;
  } else {
    return false;
  }
  fault = f;
  return true;
}

// ---- The server ----------------------------------------------------------------

struct CSimServer::Listener {
  Site site = Site::kArchive;
  bool tls = false;
  int port = 0;
  std::string base;  // set before the listening thread starts
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  std::function<void()> onClientHello;  // run on the connection's thread
};

// The task queue of one listener: httplib hands it every connection it
// accepts as a task. The queue counts and numbers the connection, and its
// worker waits out the link's latency (the TCP handshake's round trip)
// before the server reads the first request from it.
class CSimServer::LinkQueue : public httplib::TaskQueue {
 public:
  LinkQueue(CSimServer& server, Site site) : server_(server), site_(site), pool_(kThreadsPerSite) {}

  void enqueue(std::function<void()> task) override {
    const int64_t connection = server_.CountConnection(site_);
    pool_.enqueue([this, connection, task = std::move(task)] {
      tConnection = connection;
      if (server_.options_.latencyMs > 0) server_.WaitUnlessStopping(server_.options_.latencyMs);
      task();
      tConnection = 0;
    });
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  CSimServer& server_;
  const Site site_;
  httplib::ThreadPool pool_;
};

namespace {

// OpenSSL's client hello callback: the listener's own work for it.
int OnClientHello(SSL*, int*, void* listener) {
  static_cast<std::function<void()>*>(listener)->operator()();
  return SSL_CLIENT_HELLO_SUCCESS;
}

}  // namespace

CSimServer::CSimServer(const CSimMarket& market, const CSimServerOptions& options)
    : market_(market), options_(options), archive_(market) {
  for (const CSimFault& fault : options_.faults) AddFault(fault);
}

CSimServer::~CSimServer() {
  Stop();
  if (ownCertFolder_) {
    std::error_code ec;
    std::filesystem::remove_all(certFolder_, ec);
  }
}

bool CSimServer::MakeCertificates(std::string* error) {
  if (options_.certFolder.empty()) {
    static std::atomic<int> counter{0};
    certFolder_ = (std::filesystem::temp_directory_path() /
                   ("tickora-market-sim-tls-" + std::to_string(getpid()) + "-" +
                    std::to_string(counter++)))
                      .string();
    ownCertFolder_ = true;
  } else {
    certFolder_ = options_.certFolder;
  }
  std::error_code ec;
  std::filesystem::create_directories(certFolder_, ec);
  Key caKey(EVP_EC_gen("P-256"), &EVP_PKEY_free);
  Key serverKey(EVP_EC_gen("P-256"), &EVP_PKEY_free);
  Cert ca(nullptr, &X509_free), server(nullptr, &X509_free);
  if (caKey && serverKey) {
    ca = NewCert("Tickora market-sim authority", caKey.get(), nullptr, caKey.get(), true, 1);
  }
  if (ca) {
    server = NewCert("127.0.0.1", serverKey.get(), ca.get(), caKey.get(), false, 2,
                     options_.certNames);
  }
  caFile_ = certFolder_ + "/ca.pem";
  certFile_ = certFolder_ + "/server.pem";
  keyFile_ = certFolder_ + "/server.key";
  if (!server || !WritePem(caFile_, ca.get(), nullptr) ||
      !WritePem(certFile_, server.get(), nullptr) ||
      !WritePem(keyFile_, nullptr, serverKey.get())) {
    if (error) *error = "cannot make the TLS certificate in " + certFolder_;
    caFile_.clear();
    return false;
  }
  return true;
}

bool CSimServer::Start(std::string* error) {
  if (started_) {
    if (error) *error = "already started";
    return false;
  }
  started_ = true;
  if (options_.https && !MakeCertificates(error)) return false;

  const std::vector<CSiteSetting>& sites = SiteSettings();
  for (size_t i = 0; i < sites.size(); ++i) {
    auto listener = std::make_unique<Listener>();
    listener->site = sites[i].site;
    listener->tls = options_.https && StartsWith(sites[i].defaultBase, "https://");
    if (listener->tls) {
      auto tls = std::make_unique<httplib::SSLServer>(certFile_.c_str(), keyFile_.c_str());
      if (tls->is_valid()) {
        const Site site = listener->site;
        listener->onClientHello = [this, site] {
          CountHandshake(site);
          if (options_.latencyMs > 0) WaitUnlessStopping(options_.latencyMs);
        };
        SSL_CTX_set_client_hello_cb(tls->ssl_context(), &OnClientHello,
                                    &listener->onClientHello);
      }
      listener->server = std::move(tls);
    } else {
      listener->server = std::make_unique<httplib::Server>();
    }
    httplib::Server& server = *listener->server;
    if (!server.is_valid()) {
      if (error) *error = std::string("cannot set up the server of ") + SimSiteName(listener->site);
      Stop();
      return false;
    }
    const Site site = listener->site;
    server.new_task_queue = [this, site] { return new LinkQueue(*this, site); };
    const Listener* self = listener.get();
    auto handler = [this, self](const httplib::Request& request, httplib::Response& response) {
      Handle(self->site, self->base, request, response);
    };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
    // A client may keep its connection for every request of a run; an idle
    // one is closed after a second by default, so Stop does not wait long
    // for it.
    server.set_keep_alive_max_count(1000000);
    // An answer goes out as written: without this, the body of an answer
    // on a kept connection waits for the client's delayed acknowledgement
    // of its headers (40 ms on Linux).
    server.set_tcp_nodelay(true);
    server.set_keep_alive_timeout(std::max(options_.keepAliveSeconds, 0));
    // The library's default also sets SO_REUSEPORT, which would let a
    // second server share a taken port without a word.
    server.set_socket_options([](int socket) {
      int on = 1;
      setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    });
    if (options_.portBase > 0) {
      const int port = options_.portBase + static_cast<int>(i);
      if (!server.bind_to_port("127.0.0.1", port)) {
        if (error) *error = "cannot listen on 127.0.0.1:" + std::to_string(port);
        listeners_.push_back(std::move(listener));
        Stop();
        return false;
      }
      listener->port = port;
    } else {
      listener->port = server.bind_to_any_port("127.0.0.1");
      if (listener->port <= 0) {
        if (error) *error = "cannot listen on 127.0.0.1";
        listeners_.push_back(std::move(listener));
        Stop();
        return false;
      }
    }
    listener->base = std::string(listener->tls ? "https" : "http") + "://127.0.0.1:" +
                     std::to_string(listener->port);
    httplib::Server* raw = listener->server.get();
    listener->thread = std::thread([raw] { raw->listen_after_bind(); });
    while (!raw->is_running()) std::this_thread::yield();
    listeners_.push_back(std::move(listener));
  }
  return true;
}

void CSimServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stopping_cv_.notify_all();
  for (auto& listener : listeners_) {
    listener->server->stop();
  }
  for (auto& listener : listeners_) {
    if (listener->thread.joinable()) listener->thread.join();
  }
}

int CSimServer::Port(Site site) const {
  for (const auto& listener : listeners_) {
    if (listener->site == site) return listener->port;
  }
  return 0;
}

std::string CSimServer::BaseUrl(Site site) const {
  for (const auto& listener : listeners_) {
    if (listener->site == site) return listener->base;
  }
  return "";
}

std::vector<std::pair<std::string, std::string>> CSimServer::Environment() const {
  std::vector<std::pair<std::string, std::string>> lines;
  for (const CSiteSetting& setting : SiteSettings()) {
    lines.emplace_back(setting.variable, BaseUrl(setting.site));
  }
  if (!caFile_.empty()) lines.emplace_back(kExtraCaFileVariable, caFile_);
  return lines;
}

int CSimServer::AddFault(const CSimFault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  ActiveFault active;
  active.id = nextFaultId_++;
  active.fault = fault;
  faults_.push_back(active);
  return active.id;
}

bool CSimServer::RemoveFault(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = std::find_if(faults_.begin(), faults_.end(),
                               [id](const ActiveFault& f) { return f.id == id; });
  if (it == faults_.end()) return false;
  faults_.erase(it);
  return true;
}

void CSimServer::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

int CSimServer::FaultHits(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const ActiveFault& f : faults_) {
    if (f.id == id) return f.hits;
  }
  return 0;
}

std::vector<CSimRequestRecord> CSimServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

CSimLinkCounts CSimServer::Counts(std::optional<Site> site) const {
  std::lock_guard<std::mutex> lock(mutex_);
  CSimLinkCounts sum;
  for (const auto& [at, counts] : counts_) {
    if (site && *site != at) continue;
    sum.connections += counts.connections;
    sum.handshakes += counts.handshakes;
    sum.requests += counts.requests;
  }
  return sum;
}

void CSimServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
  counts_.clear();
}

int64_t CSimServer::CountConnection(Site site) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_[site].connections;
  return ++connections_;
}

void CSimServer::CountHandshake(Site site) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_[site].handshakes;
}

bool CSimServer::AwaitLink(size_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  const int64_t now = MonotonicNs();
  linkFreeNs_ = std::max(linkFreeNs_, now) +
                static_cast<int64_t>(bytes) * 1000000000 / options_.bandwidth;
  return !stopping_cv_.wait_for(lock, std::chrono::nanoseconds(linkFreeNs_ - now),
                                [this] { return stopping_; });
}

void CSimServer::ThroughLink(httplib::Response& response) {
  if (!response.content_provider_) {
    if (response.body.empty()) return;
    auto body = std::make_shared<std::string>(std::move(response.body));
    response.body.clear();
    const std::string type = response.get_header_value("Content-Type");
    response.headers.erase("Content-Type");
    response.set_content_provider(
        body->size(), type, [body](size_t offset, size_t length, httplib::DataSink& sink) {
          return sink.write(body->data() + offset, std::min(length, body->size() - offset));
        });
  }
  // Pieces of about 10 ms of the link.
  const size_t piece = static_cast<size_t>(
      std::clamp<int64_t>(options_.bandwidth / 100, 512, 64 << 10));
  response.content_provider_ = [this, piece, inner = std::move(response.content_provider_)](
                                   size_t offset, size_t length, httplib::DataSink& sink) {
    httplib::DataSink link;
    link.write = [this, piece, &sink](const char* data, size_t size) {
      while (size > 0) {
        const size_t n = std::min(size, piece);
        if (!AwaitLink(n) || !sink.write(data, n)) return false;
        data += n;
        size -= n;
      }
      return true;
    };
    link.done = [&sink] { sink.done(); };
    link.is_writable = [&sink] { return sink.is_writable(); };
    return inner(offset, length, link);
  };
}

std::vector<CSimLogPost> CSimServer::LogPosts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return posts_;
}

void CSimServer::ClearLogPosts() {
  std::lock_guard<std::mutex> lock(mutex_);
  posts_.clear();
}

void CSimServer::SetPage(Site site, const std::string& path, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  pages_[{site, path}] = body;
}

void CSimServer::ClearPages() {
  std::lock_guard<std::mutex> lock(mutex_);
  pages_.clear();
}

void CSimServer::Record(const CSimRequestRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(record);
  ++counts_[record.site].requests;
}

bool CSimServer::MatchFault(Site site, const std::string& path, const std::string& query,
                            CSimFault& fault, int& hit) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (ActiveFault& active : faults_) {
    const CSimFault& f = active.fault;
    if (f.site && *f.site != site) continue;
    const std::string subject =
        f.path.find('?') != std::string::npos ? path + "?" + query : path;
    const bool match = f.prefix ? StartsWith(subject, f.path) : subject == f.path;
    if (!match) continue;
    hit = ++active.hits;
    fault = f;
    return true;
  }
  return false;
}

bool CSimServer::WaitUnlessStopping(int64_t milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (milliseconds < 0) {
    stopping_cv_.wait(lock, [this] { return stopping_; });
    return false;
  }
  return !stopping_cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [this] { return stopping_; });
}

void CSimServer::Handle(Site site, const std::string& base, const httplib::Request& request,
                        httplib::Response& response) {
  CSimRequestRecord record;
  record.site = site;
  record.method = request.method;
  record.timeMs = NowMs();
  const std::string& target = request.target;
  const size_t mark = target.find('?');
  record.path = target.substr(0, mark);
  record.query = mark == std::string::npos ? "" : target.substr(mark + 1);
  record.body = request.body;
  record.acceptEncoding = request.get_header_value("Accept-Encoding");
  record.connection = tConnection;

  auto finish = [&] {
    record.status = response.status;
    Record(record);
    if (options_.bandwidth > 0) ThroughLink(response);
  };

  // The request's way here and the answer's first byte back.
  if (options_.latencyMs > 0 && !WaitUnlessStopping(options_.latencyMs)) {
    response.status = 503;
    return finish();
  }

  // The server's own redirections.
  if (StartsWith(record.path, kHopPath)) {
    const std::string rest = target.substr(kHopPath.size());
    const size_t slash = rest.find('/');
    long long hops = 0;
    if (slash == std::string::npos || !ParseInt(rest.substr(0, slash), 1, 1000, hops)) {
      response.status = 404;
    } else {
      const std::string original = rest.substr(slash);
      response.set_redirect(hops > 1 ? base + kHopPath + std::to_string(hops - 1) + original
                                     : base + kFinalPath + original,
                            302);
    }
    return finish();
  }
  if (StartsWith(record.path, kLoopPath + "/")) {
    response.set_redirect(base + target.substr(kLoopPath.size()), 302);
    return finish();
  }
  if (StartsWith(record.path, kFinalPath + "/")) {
    const std::string original = target.substr(kFinalPath.size());
    const size_t q = original.find('?');
    Answer(site, request.method, original.substr(0, q),
           q == std::string::npos ? "" : original.substr(q + 1), request, false, response);
    return finish();
  }

  CSimFault fault;
  int hit = 0;
  if (!MatchFault(site, record.path, record.query, fault, hit)) {
    Answer(site, request.method, record.path, record.query, request, false, response);
    return finish();
  }
  switch (fault.kind) {
    case CSimFault::Kind::kStatus:
      response.status = fault.status;
      response.set_content("simulated failure\n", "text/plain");
      break;
    case CSimFault::Kind::kFailFirst:
      if (hit <= fault.count) {
        response.status = fault.status;
        response.set_content("simulated failure\n", "text/plain");
      } else {
        Answer(site, request.method, record.path, record.query, request, false, response);
      }
      break;
    case CSimFault::Kind::kCutBody: {
      Answer(site, request.method, record.path, record.query, request, false, response);
      auto body = std::make_shared<std::string>(std::move(response.body));
      response.body.clear();
      const std::string type = response.get_header_value("Content-Type");
      const size_t keep = std::min(fault.bytes, body->size());
      // The whole length is announced; the provider sends `keep` bytes
      // and then fails, which makes the server close the connection.
      response.set_content_provider(
          body->size(), type,
          [body, keep](size_t offset, size_t length, httplib::DataSink& sink) {
            if (offset >= keep) return false;
            sink.write(body->data() + offset, std::min(length, keep - offset));
            return true;
          });
      break;
    }
    case CSimFault::Kind::kCorruptGzip:
      Answer(site, request.method, record.path, record.query, request, false, response);
      if (response.body.size() > 10) {
        std::fill(response.body.begin() + 10, response.body.end(), '\xFF');
      }
      break;
    case CSimFault::Kind::kDelay:
      if (!WaitUnlessStopping(fault.delayMs)) {
        response.status = 503;
        break;
      }
      Answer(site, request.method, record.path, record.query, request, false, response);
      break;
    case CSimFault::Kind::kHang:
      WaitUnlessStopping(-1);
      response.status = 503;
      break;
    case CSimFault::Kind::kRedirectChain:
      response.set_redirect(fault.count > 1
                                ? base + kHopPath + std::to_string(fault.count - 1) + target
                                : base + kFinalPath + target,
                            302);
      break;
    case CSimFault::Kind::kRedirectLoop:
      response.set_redirect(base + kLoopPath + target, 302);
      break;
    case CSimFault::Kind::kAlteredStructure:
      Answer(site, request.method, record.path, record.query, request, true, response);
      break;
    case CSimFault::Kind::kShortRows:
      Answer(site, request.method, record.path, record.query, request, false, response, true);
      break;
    case CSimFault::Kind::kBadRecords:
    case CSimFault::Kind::kAlternatingCodes:
    case CSimFault::Kind::kGzipBomb:
    case CSimFault::Kind::kEndless:
    case CSimFault::Kind::kHostileCodes:
    case CSimFault::Kind::kNonFinite:
      Answer(site, request.method, record.path, record.query, request, false, response);
      if (response.status == 200) Hostile(site, fault, record.path, response);
      break;
  }
  finish();
}

void CSimServer::Hostile(Site site, const CSimFault& fault, const std::string& path,
                         httplib::Response& response) {
  using Kind = CSimFault::Kind;
  // The archive file's name tells its records: prices, or margin balances.
  const std::string name = path.substr(path.rfind('/') + 1);
  const size_t valueBytes = name.rfind("price", 0) == 0    ? kArchivePriceValueBytes
                            : name.rfind("margin", 0) == 0 ? kArchiveMarginValueBytes
                                                           : 0;
  if (site != Site::kArchive) {
    if (fault.kind == Kind::kHostileCodes && site != Site::kStockList) {
      // A quote page whose code carries terminal escapes (the window
      // title, a colour) after the real one.
      const std::string field = "name=\"ipm_product_code\" value=\"";
      const size_t at = response.body.find(field);
      const size_t end = at == std::string::npos ? at : response.body.find('"', at + field.size());
      if (end != std::string::npos) response.body.insert(end, "\x1b]0;owned\x07\x1b[31m");
    } else if (fault.kind == Kind::kHostileCodes) {
      // Rows whose codes the list reader takes but the code rule refuses.
      std::string rows;
      for (const char* code : {"quick2", "QUICKMG2", "1234567890123"}) {
        rows += std::string("<tr>\n  <td class=\"name\">\n    <a href=\"/x/\">x</a><br />\n    (") +
                code + "/東証プライム)\n  </td>\n</tr>\n";
      }
      const size_t end = response.body.find("</table>");
      if (end != std::string::npos) response.body.insert(end, rows);
    } else if (fault.kind == Kind::kEndless) {
      const std::string type = response.get_header_value("Content-Type");
      std::string filler;
      for (int i = 0; i < 4096; ++i) filler += "<p>endless</p>\n";
      response.body.clear();
      response.set_chunked_content_provider(
          type, [this, filler](size_t offset, httplib::DataSink& sink) {
            if (Stopping()) return false;
            const std::string& piece = offset == 0 ? std::string("<html><body>\n") : filler;
            return sink.write(piece.data(), piece.size());
          });
    }
    return;
  }
  std::string file;
  if (!Unpack(response.body, file) || file.size() < kArchiveHeaderBytes) return;
  if (fault.kind == Kind::kNonFinite) {
    const bool brand = name.rfind("brand", 0) == 0;
    std::string packed;
    if ((brand || name.rfind("divide", 0) == 0) &&
        CSimArchive::Gzip(WithNonFiniteNumbers(file, brand), packed)) {
      response.set_content(packed, "application/octet-stream");
    }
    return;
  }
  if (fault.kind == Kind::kBadRecords || fault.kind == Kind::kAlternatingCodes) {
    if (valueBytes == 0) return;
    std::string packed;
    // Past the index's bound of two million runs.
    constexpr size_t kAlternating = 2200000;
    if (CSimArchive::Gzip(fault.kind == Kind::kBadRecords
                              ? WithBadRecords(file, valueBytes)
                              : WithAlternatingCodes(file, valueBytes, kAlternating),
                          packed)) {
      response.set_content(packed, "application/octet-stream");
    }
    return;
  }
  if (fault.kind == Kind::kGzipBomb || fault.kind == Kind::kEndless) {
    auto stream = std::make_shared<CGzipStream>(file.substr(0, kArchiveHeaderBytes), fault.bytes,
                                                fault.kind == Kind::kEndless);
    response.body.clear();
    response.set_chunked_content_provider(
        "application/octet-stream", [this, stream](size_t, httplib::DataSink& sink) {
          if (Stopping()) return false;
          const std::string piece = stream->Next();
          if (piece.empty()) {
            sink.done();
            return true;
          }
          return sink.write(piece.data(), piece.size());
        });
  }
}

bool CSimServer::Stopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

void CSimServer::Answer(Site site, const std::string& method, const std::string& path,
                        const std::string& query, const httplib::Request& request,
                        bool altered, httplib::Response& response, bool shortRows) {
  auto plain = [&](int status, const char* text) {
    response.status = status;
    response.set_content(text, "text/plain");
  };
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto canned = pages_.find({site, path});
    if (canned != pages_.end()) {
      response.status = 200;
      const bool archive = site == Site::kArchive;
      response.set_content(canned->second, archive ? "application/octet-stream"
                                                   : "text/html; charset=utf-8");
      return;
    }
  }
  if (site == Site::kArchive) {
    const std::string prefix = CSimArchive::kPathPrefix;
    if (method != "GET" && method != "HEAD") return plain(405, "method not allowed\n");
    if (!StartsWith(path, prefix)) return plain(404, "not found\n");
    std::shared_ptr<const std::string> gzip;
    const int status = archive_.Fetch(path.substr(prefix.size()), gzip);
    if (status != 200) return plain(status, status == 404 ? "not found\n" : "server error\n");
    response.status = 200;
    // The body is the compressed file itself: no Content-Encoding.
    response.set_content(*gzip, "application/octet-stream");
    return;
  }
  if (site == Site::kLog) {
    if (path != kLogPath) return plain(404, "not found\n");
    if (method != "POST") return plain(405, "method not allowed\n");
    CSimLogPost post;
    post.timeMs = NowMs();
    post.fields = DecodeForm(request.body);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      posts_.push_back(std::move(post));
    }
    return plain(200, "OK\n");
  }

  CSimRequest page;
  page.site = site;
  page.method = method;
  page.path = path;
  page.query = query;
  page.body = request.body;
  page.alteredStructure = altered;
  page.shortRows = shortRows;
  for (auto& field : DecodeForm(query)) page.params.insert(field);
  if (IsForm(request)) {
    for (auto& field : DecodeForm(request.body)) page.params.insert(field);
  }
  CSimResponse answer;
  if (!RenderSitePage(market_, page, answer)) return plain(404, "not found\n");
  response.status = answer.status;
  for (const auto& header : answer.headers) {
    response.set_header(header.first.c_str(), header.second);
  }
  response.set_content(answer.body, answer.contentType.c_str());
}
