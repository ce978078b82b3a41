#include "web/archive_ahead.h"

#include <algorithm>
#include <utility>

CArchiveAhead::CArchiveAhead(Fetch fetch) : fetch_(std::move(fetch)) {
  client_.SetCancelFlag(&stop_);
}

CArchiveAhead::~CArchiveAhead() { Stop(); }

void CArchiveAhead::Queue(const Job& job, const CHttpClient& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (current_ == job.name || fetched_.count(job.name) != 0) return;
  for (const Queued& queued : queue_) {
    if (queued.job.name == job.name) return;
  }
  queue_.push_back(
      {job,
       {settings.Attempts(), settings.ConnectTimeout(), settings.StallTimeout(),
        settings.ExchangeTimeout(), settings.RateGrace(), settings.RetryPause(),
        settings.MaxBodyBytes()}});
  if (working_) return;
  // The thread of an earlier queue has ended (it ends with its queue).
  if (thread_.joinable()) thread_.join();
  stop_ = 0;
  working_ = true;
  thread_ = std::thread(&CArchiveAhead::Work, this);
}

void CArchiveAhead::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!queue_.empty() && stop_ == 0) {
    Queued next = std::move(queue_.front());
    queue_.pop_front();
    current_ = next.job.name;
    lock.unlock();
    client_.SetAttempts(next.settings.attempts);
    client_.SetRetryPause(next.settings.retryPauseMs);
    client_.SetConnectTimeout(next.settings.connectTimeoutMs);
    client_.SetStallTimeout(next.settings.stallTimeoutS);
    client_.SetExchangeTimeout(next.settings.exchangeTimeoutMs);
    client_.SetRateGrace(next.settings.rateGraceMs);
    client_.SetMaxBodyBytes(next.settings.maxBodyBytes);
    std::unique_ptr<CArchiveIndex> index;
    const int32_t result = fetch_(client_, next.job, index);
    lock.lock();
    // A failed file is not kept: its index (and values file) goes now.
    fetched_[next.job.name] = {result, result == 0 ? std::move(index) : nullptr};
    current_.clear();
    changed_.notify_all();
  }
  queue_.clear();
  working_ = false;
  changed_.notify_all();
}

bool CArchiveAhead::Take(const std::string& name, std::unique_ptr<CArchiveIndex>& index,
                         int32_t& result, const std::atomic<std::uint8_t>* cancel) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto queued = std::find_if(queue_.begin(), queue_.end(),
                                   [&name](const Queued& q) { return q.job.name == name; });
  if (queued != queue_.end()) {
    queue_.erase(queued);
    return false;
  }
  // The owner's cancel reaches the thread's transfer while the owner waits
  // for it, as it would reach the owner's own transfer.
  while (current_ == name) {
    if (cancel != nullptr && *cancel != 0) stop_ = 1;
    changed_.wait_for(lock, std::chrono::milliseconds(CHttpClient::kCancelPollMs / 2));
  }
  const auto found = fetched_.find(name);
  if (found == fetched_.end()) return false;
  Fetched fetched = std::move(found->second);
  fetched_.erase(found);
  // A transfer stopped by a cancel has no result.
  if (fetched.result == CHttpClient::kErrorCancelled) return false;
  result = fetched.result;
  index = std::move(fetched.index);
  return true;
}

void CArchiveAhead::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = 1;
    queue_.clear();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  fetched_.clear();
  working_ = false;
}
