#include "web/web_archive.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "series/archive_price_file.h"
#include "series/chunk_writer.h"
#include "series/temp_file.h"
#include "support/app_paths.h"
#include "support/file_error.h"
#include "web/inflate_buffer.h"
#include "web/site_urls.h"

namespace {

// Unpacks into a plain file, for the kinds that are read whole.
class CFileSink : public CInflateSink {
 public:
  explicit CFileSink(std::string path) : path_(std::move(path)) {}

  bool Begin() override {
    if (!out_.Create(path_.c_str())) localFault_ = true;
    return !localFault_;
  }
  bool Add(const unsigned char* bytes, size_t size) override {
    out_.Put(bytes, size);
    if (out_.Failed()) localFault_ = true;
    return !localFault_;
  }
  // True when every byte reached the file.
  bool Finish() { return out_.Close(); }
  // True once the file could not be made or written: a local cause. It
  // stays true over the client's emptying of the buffer after the failed
  // exchange, which begins the sink again.
  bool LocalFault() const { return localFault_; }

 private:
  std::string path_;
  CChunkWriter out_;
  bool localFault_ = false;
};

// Unpacks into an index and its values file, for the kinds kept by year.
class CIndexSink : public CInflateSink {
 public:
  CIndexSink(CArchiveIndex& index, std::string path)
      : index_(index), path_(std::move(path)) {}

  bool Begin() override {
    if (!index_.Begin(path_)) localFault_ = true;
    return !localFault_;
  }
  bool Add(const unsigned char* bytes, size_t size) override {
    index_.Add(bytes, size);
    if (index_.WriteFailed()) localFault_ = true;
    if (index_.TooManyRuns()) tooManyRuns_ = true;
    return !localFault_ && !tooManyRuns_;
  }
  // Sticky as in CFileSink: true once the values file could not be made or
  // written, and once the codes alternated past the index's bound.
  bool LocalFault() const { return localFault_; }
  bool TooManyRuns() const { return tooManyRuns_; }

 private:
  CArchiveIndex& index_;
  std::string path_;
  bool localFault_ = false;
  bool tooManyRuns_ = false;
};

std::string Dated(const char* kind, const CDate& date) {
  return std::string(kind) + "-" + std::to_string(date.ToNumber()) + ".bin";
}

std::string OfYear(const char* kind, int32_t year) {
  return std::string(kind) + "-" + std::to_string(year) + ".bin";
}

// The day after the date number `to`; always later than `to`.
uint32_t DayAfter(uint32_t to) {
  CDate day(to / 10000u, to / 100u % 100u, to % 100u);
  day.NextDay();
  const uint32_t next = day.ToNumber();
  return next > to ? next : to + 1;
}

// Where `from` goes after a question about `year`: the next year's first
// day while the range goes on past `year`, else past the range.
uint32_t Advance(int32_t year, uint32_t to) {
  const int32_t toYear = static_cast<int32_t>(to / 10000u);
  if (year < toYear) return static_cast<uint32_t>(year + 1) * 10000u + 101u;
  return DayAfter(to);
}

}  // namespace

const CWebArchive::YearKind CWebArchive::kPrices{
    "price", "priceyear", [](const CLocalTime& now) { return PriceCutoff(now, 15, 50); },
    "tmpprice", kArchivePriceValueBytes};
const CWebArchive::YearKind CWebArchive::kMargins{
    "margin", "marginyear", [](const CLocalTime& now) { return LatestWednesday(now.date); },
    "tmpmargin", kArchiveMarginValueBytes};

CWebArchive::CWebArchive(CLocalClock clock)
    : clock_(std::move(clock)),
      ahead_(LoadYear) {
  client_.SetMaxBodyBytes(kMaxPackedBytes);
}

CWebArchive::~CWebArchive() {
  ahead_.Stop();
  priceYears_.clear();
  marginYears_.clear();
  if (!folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_.substr(0, folder_.size() - 1), ec);
  }
}

const std::string& CWebArchive::Folder() {
  if (folder_.empty()) {
    // The process id in the name lets a later run tell the folder of a
    // process that was killed (and so never removed it) from a live one.
    std::string pattern = TempFolder() + kFolderPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      folder_ = pattern + "/";
    } else {
      NoteFileError(errno, TempFolder());
    }
  }
  return folder_;
}

int32_t CWebArchive::LocalFault() {
  localError_ = LastFileError();
  return kErrorLocal;
}

int CWebArchive::RemoveStaleFolders() {
  namespace fs = std::filesystem;
  const std::string prefix = kFolderPrefix;
  const uid_t uid = getuid();
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(TempFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    // "<prefix><pid>-XXXXXX": only a folder of this user whose process is
    // gone. A folder of another naming, or whose process still runs (or
    // cannot be asked), is left alone.
    const char* digits = name.c_str() + prefix.size();
    char* after = nullptr;
    errno = 0;
    const long pid = std::strtol(digits, &after, 10);
    if (after == digits || *after != '-' || errno != 0 || pid <= 0) continue;
    struct stat info {};
    if (lstat(it->path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != uid) {
      continue;
    }
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code gone;
    if (fs::remove_all(it->path(), gone) > 0 && !gone) ++removed;
  }
  return removed;
}

// ---- Names ------------------------------------------------------------------

CDate CWebArchive::LatestSaturday(const CDate& today) {
  CDate day = today;
  if (day.Weekday() < 0) return day;
  while (day.Weekday() != 6) day.PrevDay();
  return day;
}

CDate CWebArchive::LatestWednesday(const CDate& today) {
  CDate day = today;
  // Weekday 3 is a weekday number, so the move always happens.
  if (day.Weekday() != 3) (void)day.PrevDayOfWeek(3);
  return day;
}

CDate CWebArchive::PriceCutoff(const CLocalTime& now, int hour, int minute) {
  CDate day = now.date;
  const bool late = now.hour > hour || (now.hour == hour && now.minute >= minute);
  if (!day.IsWeekend() && late) return day;
  day.PrevWeekday();
  return day;
}

// ---- Fetching ---------------------------------------------------------------

int32_t CWebArchive::Transfer(CHttpClient& client, const std::string& name,
                              CInflateSink& sink, uint64_t maxUnpacked) {
  ClearFileError();
  CInflateBuffer buffer(sink);
  buffer.SetMaxUnpacked(maxUnpacked);
  const int32_t code =
      client.Get(SiteAddress(Site::kArchive, std::string(kPathPrefix) + name),
                 buffer, {kAcceptHeader});
  // Too large packed (the client's cap) or unpacked (the buffer's).
  if (buffer.TooLarge() || code == CHttpClient::kErrorTooLarge) {
    return CHttpClient::kErrorTooLarge;
  }
  // The buffer refused bytes: a damaged stream, or a sink that failed
  // (which the callers tell apart first).
  if (code == CHttpClient::kErrorWrite) return kErrorUnpack;
  if (code < 0) return code;
  return buffer.Complete() ? kOk : kErrorUnpack;
}

int32_t CWebArchive::Download(const std::string& name, CInflateSink& sink,
                              uint64_t maxUnpacked) {
  // A file refused for its size (or its codes' order) is refused again
  // without a request: it would only be downloaded up to its cap once
  // more for every issue, and the pages answer meanwhile.
  if (const auto it = refused_.find(name); it != refused_.end()) return it->second;
  const int32_t code = Transfer(client_, name, sink, maxUnpacked);
  if (code == CHttpClient::kErrorTooLarge) refused_[name] = code;
  return code;
}

template <typename Read>
int32_t CWebArchive::FetchWhole(const std::string& name, const char* local,
                                uint64_t maxUnpacked, Read read) {
  // Without a private folder there is nowhere to unpack: the buffer would
  // not open, so nothing is requested.
  const std::string& folder = Folder();
  if (folder.empty()) return LocalFault();
  const CTempFile unpacked(folder + local);  // gone on every path
  CFileSink sink(unpacked);
  const int32_t code = Download(name, sink, maxUnpacked);
  if (sink.LocalFault()) return LocalFault();
  if (code != kOk) return code;
  if (!sink.Finish()) return LocalFault();
  return read(static_cast<const std::string&>(unpacked)) ? kOk : kErrorRead;
}

CArchiveAhead::Job CWebArchive::YearJob(const YearKind& kind, int32_t year,
                                        const CLocalTime& now) {
  CArchiveAhead::Job job;
  job.name = year != static_cast<int32_t>(now.date.year)
                 ? OfYear(kind.name, year)
                 : Dated(kind.currentName, kind.currentDate(now));
  job.valuesPath = kind.local + std::to_string(year) + ".bin";
  job.valueBytes = kind.valueBytes;
  return job;
}

void CWebArchive::QueueYears(const Years& years, const YearKind& kind, int32_t firstYear,
                             int32_t lastYear, const CLocalTime& now) {
  lastYear = std::min(lastYear, static_cast<int32_t>(now.date.year));
  if (firstYear > lastYear) return;
  const std::string& folder = Folder();
  if (folder.empty()) return;
  for (int32_t year = firstYear; year <= lastYear; ++year) {
    if (years.count(year) != 0) continue;
    CArchiveAhead::Job job = YearJob(kind, year, now);
    if (refused_.count(job.name) != 0) continue;
    job.valuesPath = folder + job.valuesPath;
    ahead_.Queue(job, client_);
  }
}

void CWebArchive::FetchPricesAhead(int32_t firstYear) {
  const CLocalTime now = clock_();
  QueueYears(priceYears_, kPrices, firstYear, now.date.year, now);
}

void CWebArchive::FetchMarginsAhead(int32_t firstYear) {
  const CLocalTime now = clock_();
  QueueYears(marginYears_, kMargins, firstYear, now.date.year, now);
}

const CArchiveIndex* CWebArchive::YearIndex(Years& years, int32_t year, int32_t lastYear,
                                            const YearKind& kind, int32_t& result) {
  const auto held = years.find(year);
  if (held != years.end()) return held->second.get();
  const CLocalTime now = clock_();
  QueueYears(years, kind, year + 1, lastYear, now);
  const CArchiveAhead::Job job = YearJob(kind, year, now);
  std::unique_ptr<CArchiveIndex> index;
  if (ahead_.Take(job.name, index, result, client_.CancelFlag()) && result != kErrorLocal) {
    result = Settle(job.name, result);
  } else {
    result = FetchYear(job, index);
  }
  if (result != kOk) return nullptr;
  return (years[year] = std::move(index)).get();
}

int32_t CWebArchive::FetchYear(const CArchiveAhead::Job& job,
                               std::unique_ptr<CArchiveIndex>& kept) {
  if (const auto it = refused_.find(job.name); it != refused_.end()) return it->second;
  const std::string& folder = Folder();
  if (folder.empty()) return LocalFault();
  CArchiveAhead::Job local = job;
  local.valuesPath = folder + job.valuesPath;
  return Settle(job.name, LoadYear(client_, local, kept));
}

int32_t CWebArchive::Settle(const std::string& name, int32_t code) {
  if (code == kErrorLocal) return LocalFault();
  if (code == kRefusedRuns) return refused_[name] = kErrorRead;
  if (code == CHttpClient::kErrorTooLarge) refused_[name] = code;
  return code;
}

int32_t CWebArchive::LoadYear(CHttpClient& client, const CArchiveAhead::Job& job,
                              std::unique_ptr<CArchiveIndex>& kept) {
  // The index deletes its values file when it goes, so a year that is not
  // kept leaves nothing behind.
  auto index = std::make_unique<CArchiveIndex>(job.valueBytes);
  CIndexSink sink(*index, job.valuesPath);
  const int32_t code = Transfer(client, job.name, sink, kMaxYearBytes);
  // A values file that could not be written says nothing about the
  // archive: the question must not go on to the pages, which hold far less
  // history, as if the file were broken.
  if (sink.LocalFault()) return kErrorLocal;
  if (sink.TooManyRuns()) return kRefusedRuns;
  if (code != kOk) return code;
  if (!index->End()) return kErrorLocal;
  // A year whose file did not even hold its header (an empty or cut answer
  // that still unpacked) is not kept either: kept empty, it would answer
  // every later issue with no bars for the year and their charts would
  // silently lack it. Each question then tries the file again and, while
  // it stays broken, goes on to the pages.
  if (!index->HasHeader()) return kErrorRead;
  kept = std::move(index);
  return kOk;
}

// ---- Questions --------------------------------------------------------------

int32_t CWebArchive::GetBrand(const std::string& code, CBrandRecord& record) {
  if (brands_.Empty()) {
    const std::string name = Dated("brand", LatestSaturday(clock_().date));
    const int32_t result =
        FetchWhole(name, "tmpbrand.bin", kMaxListBytes,
                   [this](const std::string& path) { return brands_.Load(path); });
    if (result != kOk) return result;
  }
  const CBrandRecord* found = brands_.Find(code);
  if (found == nullptr) return kNoEntry;
  record = *found;
  return kOk;
}

int32_t CWebArchive::GetDivide(const std::string& code,
                               std::vector<CDivideRecord>& splits) {
  splits.clear();
  if (divides_.Empty()) {
    const std::string name = Dated("divide", LatestSaturday(clock_().date));
    const int32_t result =
        FetchWhole(name, "tmpdivide.bin", kMaxListBytes,
                   [this](const std::string& path) { return divides_.Load(path); });
    if (result != kOk) return result;
  }
  const CDivide* found = divides_.Find(code);
  if (found == nullptr) return kNoEntry;
  splits.assign(found->begin(), found->end());
  return kOk;
}

int32_t CWebArchive::GetPrice(uint32_t& from, uint32_t to,
                              const std::string& code, CQuoteItems& records,
                              bool& adjust) {
  records.clear();
  adjust = false;
  const int32_t year = static_cast<int32_t>(from / 10000u);
  int32_t result = kOk;
  const CArchiveIndex* index =
      YearIndex(priceYears_, year, static_cast<int32_t>(to / 10000u), kPrices, result);
  if (index == nullptr) return result;
  CChart bars;
  if (!ReadIndexedBars(*index, code, bars)) return kErrorRead;
  for (const CDayRecord& bar : bars) {
    if (bar.DateNumber() >= from && bar.DateNumber() <= to) records.push_back({code, bar});
  }
  from = Advance(year, to);
  return kOk;
}

int32_t CWebArchive::GetPriceLast(int32_t& position,
                                  const std::vector<std::string>& codes,
                                  CQuoteItems& records) {
  records.clear();
  if (latest_.empty()) {
    const std::string name = Dated("pricelast", PriceCutoff(clock_(), 15, 40));
    const int32_t result = FetchWhole(
        name, "tmppricelast.bin", kMaxLatestBytes, [this](const std::string& path) {
          return ReadArchivePriceFile(path.c_str(), latest_);
        });
    if (result != kOk) return result;
  }
  if (position < 0) position = 0;
  const auto size = static_cast<int64_t>(codes.size());
  for (int32_t served = 0; served < kLastBatch && position < size;
       ++served, ++position) {
    const std::string& code = codes[static_cast<size_t>(position)];
    const auto found = latest_.find(code);
    if (found != latest_.end() && !found->second.empty()) {
      records.push_back(CQuoteItem{code, found->second.back()});
    }
  }
  return kOk;
}

int32_t CWebArchive::GetMargin(uint32_t& from, uint32_t to,
                               const std::string& code,
                               std::vector<CMarginRecord>& records) {
  records.clear();
  const int32_t year = static_cast<int32_t>(from / 10000u);
  int32_t result = kOk;
  const CArchiveIndex* index =
      YearIndex(marginYears_, year, static_cast<int32_t>(to / 10000u), kMargins, result);
  if (index == nullptr) return result;
  CMargin entries;
  if (!ReadIndexedMargins(*index, code, entries)) return kErrorRead;
  for (const CMarginRecord& entry : entries) {
    if (entry.date.ToNumber() >= from && entry.date.ToNumber() <= to) records.push_back(entry);
  }
  from = Advance(year, to);
  return kOk;
}

std::string CWebArchive::GetArchiveMessage(int32_t result) {
  if (result >= -599 && result <= -1) {
    char text[128];
    std::snprintf(text, sizeof text, "HTTPサーバーがステータスコード%dを返しました",
                  -result);
    return text;
  }
  switch (result) {
    case kErrorUnpack:
      return "圧縮ファイルの解凍に失敗しました。";
    case kErrorRead:
      return "ファイルアクセスに失敗しました。";
    case kErrorNoArchive:
      return "アーカイブがありません。";
    case kErrorNoSeries:
      return "該当の時系列データがありません。";
    case kErrorLocal:
      return "一時フォルダのファイルを作成または書き込みできませんでした。";
    default:
      return "不明なエラーが発生しました。";
  }
}
