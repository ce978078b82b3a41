#ifndef TICKORA_WEB_ARCHIVE_AHEAD_H_
#define TICKORA_WEB_ARCHIVE_AHEAD_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "series/archive_index.h"
#include "web/http_client.h"

// CArchiveAhead downloads archive year files on a thread of its own, ahead
// of the questions that will need them, so that a run works from one file
// (or lists issues, or writes charts) while the next one arrives.
//
// Queue names a file; the thread fetches the queued files one at a time, in
// the order queued, by calling the owner's fetch function with the thread's
// own HTTP client (set up like the owner's client was when the file was
// queued). Take hands a fetched file over with its result, a failure
// included (a question then meets that failure as if it had fetched the
// file itself, and a later question fetches again, as it would): it waits
// for the file under way, and answers false for a file never queued, not
// yet begun (dropped from the queue then) or stopped by a cancel, so that
// the caller fetches it itself.
//
// At most one transfer runs on the thread: with the caller's own that is at
// most two at once to the archive server. A fetched file is held (its index
// in memory, its values in the temporary folder) until it is taken or the
// object stops; a run holds every year it has loaded anyway, so fetching
// ahead moves that cost earlier but does not add to it.
//
// Stop ends the transfer under way at once (through the thread's client's
// cancel flag), drops the queue and every file not taken, and waits for the
// thread; a later Queue starts again. The object stops when it goes.
//
// Queue, Take and Stop are called from one thread, the owner's.
class CArchiveAhead {
 public:
  // A file to fetch: its name on the server and the file of the private
  // folder its values go to.
  struct Job {
    std::string name;
    std::string valuesPath;
    size_t valueBytes = 0;
  };
  // Fetches `job` with `client` into `index`; CWebArchive's result codes.
  // Called on the thread: it must touch nothing the owner's thread uses.
  using Fetch =
      std::function<int32_t(CHttpClient& client, const Job& job,
                            std::unique_ptr<CArchiveIndex>& index)>;

  explicit CArchiveAhead(Fetch fetch);
  ~CArchiveAhead();
  CArchiveAhead(const CArchiveAhead&) = delete;
  CArchiveAhead& operator=(const CArchiveAhead&) = delete;

  // Queues `job` unless a file of its name is queued, under way or held.
  // The thread's client takes the attempts, pauses, time limits and size
  // cap of `settings` for it.
  void Queue(const Job& job, const CHttpClient& settings);
  // True when the file `name` was fetched ahead: `result` is the fetch's
  // result and on success its index is moved into `index`. Waits while it
  // is under way; a `cancel` flag set meanwhile stops the transfer, and
  // the answer is false. False for a file that is not known or not begun.
  [[nodiscard]] bool Take(const std::string& name, std::unique_ptr<CArchiveIndex>& index,
                          int32_t& result, const std::atomic<std::uint8_t>* cancel);
  void Stop();

 private:
  struct Settings {
    int32_t attempts, connectTimeoutMs, stallTimeoutS, exchangeTimeoutMs, rateGraceMs;
    uint32_t retryPauseMs;
    uint64_t maxBodyBytes;
  };
  struct Queued {
    Job job;
    Settings settings;
  };
  struct Fetched {
    int32_t result;
    std::unique_ptr<CArchiveIndex> index;
  };
  void Work();

  Fetch fetch_;
  CHttpClient client_;  // used by the thread only
  std::atomic<std::uint8_t> stop_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Queued> queue_;
  std::string current_;  // the name under way; empty when none
  std::map<std::string, Fetched> fetched_;
  bool working_ = false;  // the thread runs and will look at the queue
  std::thread thread_;
};

#endif  // TICKORA_WEB_ARCHIVE_AHEAD_H_
