#ifndef TICKORA_WEB_WEB_ARCHIVE_H_
#define TICKORA_WEB_WEB_ARCHIVE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/brand_map.h"
#include "db/brand_record.h"
#include "db/divide_map.h"
#include "db/divide_record.h"
#include "series/archive_index.h"
#include "series/margin_record.h"
#include "series/quote_item.h"
#include "series/series_table.h"
#include "web/archive_ahead.h"
#include "web/http_client.h"
#include "web/local_clock.h"

class CInflateSink;

// CWebArchive answers questions about issues from the bulk archive: one
// gzip file per data kind, and per year for prices and margin balances,
// published on the archive server under kPathPrefix. Each file is fetched
// once, on the first question that needs it, and then answers every issue
// for the life of the object:
//
//   issues          brand-D.bin       D the latest Saturday on or before today
//   splits          divide-D.bin      D as for issues
//   prices, year Y  price-Y.bin       a year other than today's
//                   priceyear-D.bin   today's year; D the price cut-off at 15:50
//   latest prices   pricelast-D.bin   D the price cut-off at 15:40
//   margin, year Y  margin-Y.bin      a year other than today's
//                   marginyear-D.bin  today's year; D the latest Wednesday on
//                                     or before today
//
// D is a date number. The price cut-off at hh:mm is today when today is a
// Monday to Friday and the clock shows hh:mm or later, else the latest
// Monday to Friday before today (holidays are not considered). Today and
// the time come from the clock given at construction, asked once by each
// operation that needs them.
//
// Fetching: the file is downloaded with one extra request header,
// kAcceptHeader, and unpacked by zlib while it arrives, so the compressed
// file never lands on disk. The issue, split and latest-price files are
// unpacked into a file of the object's private temporary folder, read whole
// with their readers (CBrandMap, CDivideMap, ReadArchivePriceFile) and
// deleted before the operation returns. A price or margin year is kept
// compact instead, since a whole-market run holds every year it has loaded
// (tens of them) until it ends: the year's values stay in a file of the
// private folder and only an index from issue code to its records' place is
// held in memory (CArchiveIndex), so that a question reads and decodes only
// its own issue's records.
//
// The private folder is made with mkdtemp under the temporary directory on
// the first fetch (and tried again on a later fetch when that failed), so
// two runs never share a file; the object removes it, with every file in
// it, when it goes. Its name holds the process id ("tickora-archive-<pid>-
// XXXXXX"), so that RemoveStaleFolders can remove those of processes that
// were killed. No file name is ever put on a command line, so a
// temporary directory with blanks in its path works.
//
// Result codes:
//   0          answered from the archive
//   1          the archive is loaded but holds no entry for the issue
//              (GetBrand and GetDivide only)
//   -1 to -599, -1000 to -1011
//              the download failed: the HTTP client's code; -1011 when the
//              client's cancel flag stopped it
//   -20000     the download did not unpack: a damaged, cut or empty gzip
//   -20001     the unpacked file did not read (no whole header, codes that
//              alternate past CArchiveIndex::kMaxRuns, or a kept year's
//              values could not be read back)
//   -1012      a size cap was passed (see the caps below)
//   -20004     a local fault: the private folder, or a file in it, could
//              not be made or written (a full or read-only temporary
//              folder). Nothing is known about the archive then, so unlike
//              the others this is not a reason to ask the pages instead;
//              LastLocalError names the cause.
//
// What stays after a failure: a failed or cancelled download, or a failed
// unpack, leaves the kind's table as it was, so the next question fetches
// again. After -20001 the issue, split and latest-price tables keep what
// their readers took (they count as loaded once they hold an entry, and an
// empty one is fetched again). A price or margin year is kept only when its
// file had a whole header and its values were written to the private
// folder: a year kept empty after an empty or cut file, or after a full
// disk, would silently answer every later issue with no records for it, so
// the next question fetches it again instead.
//
// Fetching ahead: while a question works from one year file, the later
// years its range goes on to download on a thread of their own
// (CArchiveAhead: one transfer besides the question's own, at most two at
// once), and FetchPricesAhead/FetchMarginsAhead queue a kind's years before
// any question, so that a run lists issues and writes charts while the
// files it will read arrive. A question about a year that is on its way
// waits for it and meets its result, a failure included, as if it had
// fetched the file itself (a later question fetches a failed year again,
// as it would), so requests, results and fallbacks are those of fetching
// on the question's own thread. A local fault met ahead is met again by
// the question, so that its cause is noted.
// The thread's client is set up like Client() when a file is queued, and
// its transfer stops at once when the owner's cancel flag is seen while
// the owner waits, on StopAhead, and when the object goes.
//
// One thread at a time (the fetching-ahead thread is the object's own).
// Not copyable.
class CWebArchive {
 public:
  static constexpr const char* kPathPrefix = "/market/archive/v2/";
  // The extra header of every archive request, as the server expects it.
  static constexpr const char* kAcceptHeader = "Accept-Encoding: gzip, deflat";
  // Codes served by one GetPriceLast call at most.
  static constexpr int32_t kLastBatch = 50;

  enum : int32_t {
    kOk = 0,
    kNoEntry = 1,
    kErrorUnpack = -20000,
    kErrorRead = -20001,
    kErrorNoArchive = -20002,
    kErrorNoSeries = -20003,
    kErrorLocal = -20004,
  };
  // Size caps. A file is downloaded packed (kMaxPackedBytes at most) and
  // unpacked while it arrives, at most a kind's cap (and kBombRatio times
  // its packed size plus 64 MiB, see CInflateBuffer). The kinds read whole
  // into memory have small caps: a real issue or split list of the whole
  // market is about a megabyte, a latest-price file a few hundred
  // kilobytes. A year file goes to the private folder, and a real one
  // unpacks to some tens of megabytes. Passing a cap gives
  // CHttpClient::kErrorTooLarge: the file counts as broken (the pages are
  // asked), and memory and the temporary folder stay bounded whatever a
  // server sends.
  static constexpr uint64_t kMaxPackedBytes = 256ull << 20;
  static constexpr uint64_t kMaxListBytes = 16ull << 20;
  static constexpr uint64_t kMaxLatestBytes = 8ull << 20;
  static constexpr uint64_t kMaxYearBytes = 1ull << 30;
  // The start of the private folder's name.
  static constexpr const char* kFolderPrefix = "tickora-archive-";

  explicit CWebArchive(CLocalClock clock = SystemLocalTime);
  virtual ~CWebArchive();
  CWebArchive(const CWebArchive&) = delete;
  CWebArchive& operator=(const CWebArchive&) = delete;

  // The record of issue `code`.
  [[nodiscard]] int32_t GetBrand(const std::string& code, CBrandRecord& record);
  // The splits of issue `code`, in date order; `splits` is emptied first.
  [[nodiscard]] int32_t GetDivide(const std::string& code, std::vector<CDivideRecord>& splits);
  // The bars of `code` from `from` to `to` (date numbers) within the year
  // of `from`, ascending; `records` is emptied first and `adjust` set to
  // false (the archive holds prices as traded). On success `from` moves to
  // January 1 of the next year while that year is not after `to`'s, else
  // to the day after `to`, so a caller loops while from <= to. An issue
  // the year does not hold answers 0 with no bars.
  [[nodiscard]] int32_t GetPrice(uint32_t& from, uint32_t to, const std::string& code,
                   CQuoteItems& records, bool& adjust);
  // The latest bar of each of the codes from `position` on, at most
  // kLastBatch codes; `position` moves past the codes served (a negative
  // one counts as 0). Codes the latest-price file does not hold are
  // skipped. `records` is emptied first.
  [[nodiscard]] int32_t GetPriceLast(int32_t& position, const std::vector<std::string>& codes,
                       CQuoteItems& records);
  // The margin balances of `code` from `from` to `to`, as GetPrice.
  [[nodiscard]] int32_t GetMargin(uint32_t& from, uint32_t to, const std::string& code,
                    std::vector<CMarginRecord>& records);

  // The Japanese text (CP932) of a result code of this class.
  static std::string GetArchiveMessage(int32_t result);

  // The date rules of the file names.
  static CDate LatestSaturday(const CDate& today);
  static CDate LatestWednesday(const CDate& today);
  static CDate PriceCutoff(const CLocalTime& now, int hour, int minute);

  // The client of the downloads, for its attempt count, retry pause and
  // cancel flag.
  CHttpClient& Client() { return client_; }

  // Queues the price (margin) year files from January of `firstYear` to
  // today's, in order, for the fetching-ahead thread; years already held,
  // or refused, are left out. Nothing is queued when the private folder
  // cannot be made (the questions then meet that fault themselves).
  void FetchPricesAhead(int32_t firstYear);
  void FetchMarginsAhead(int32_t firstYear);
  // Stops fetching ahead: the transfer under way ends, and files fetched
  // ahead but not taken are let go.
  void StopAhead() { ahead_.Stop(); }
  // The clock that the file names are dated by, from the next question on.
  void SetClock(CLocalClock clock) { clock_ = std::move(clock); }

  // The cause of the last kErrorLocal ("<system text> (<path>)", CP932).
  const std::string& LastLocalError() const { return localError_; }

  // Removes the private folders, under the temporary directory, that
  // processes of this user left behind when they were killed (their
  // process no longer exists). Answers how many were removed.
  static int RemoveStaleFolders();

 private:
  using Years = std::map<int32_t, std::unique_ptr<CArchiveIndex>>;

  // Downloads kPathPrefix + `name` and unpacks it into `sink`. 0, a
  // download code, or kErrorUnpack.
  [[nodiscard]] int32_t Download(const std::string& name, CInflateSink& sink, uint64_t maxUnpacked);
  // Fetches `name` into a file of the private folder, `local`, which is
  // gone again when the call returns, and reads it with `read(path)`.
  template <typename Read>
  [[nodiscard]] int32_t FetchWhole(const std::string& name, const char* local, uint64_t maxUnpacked,
                     Read read);
  // The files of a price or margin kind: the year files ("<name>-<year>"),
  // the current year's file ("<currentName>-<date>", dated by
  // `currentDate` of the clock's reading), the prefix of their values
  // files in the private folder, and the bytes of a value.
  struct YearKind {
    const char* name;
    const char* currentName;
    CDate (*currentDate)(const CLocalTime& now);
    const char* local;
    size_t valueBytes;
  };
  static const YearKind kPrices;
  static const YearKind kMargins;
  // The index of `year` of `kind`, fetched into `years` first when it is
  // not held (taken from the fetching-ahead thread when it has it); the
  // later years up to `lastYear` are queued for that thread meanwhile.
  // Null, with the failure in `result`, when it cannot be had.
  const CArchiveIndex* YearIndex(Years& years, int32_t year, int32_t lastYear,
                                 const YearKind& kind, int32_t& result);
  // The file of `year` of `kind` for a question asked at `now`.
  static CArchiveAhead::Job YearJob(const YearKind& kind, int32_t year, const CLocalTime& now);
  // Queues the years from `firstYear` to `lastYear` (at most today's) of
  // `kind` that `years` does not hold.
  void QueueYears(const Years& years, const YearKind& kind, int32_t firstYear, int32_t lastYear,
                  const CLocalTime& now);
  // Fetches the year file of `job` on this thread; on success the index
  // goes into `kept`. The result is settled as by Settle.
  [[nodiscard]] int32_t FetchYear(const CArchiveAhead::Job& job,
                                  std::unique_ptr<CArchiveIndex>& kept);
  // The result of a question for the year file `name` from LoadYear's
  // `code`: a file refused for its size or its codes' order is noted in
  // refused_, a local fault's cause in localError_.
  [[nodiscard]] int32_t Settle(const std::string& name, int32_t code);
  // Downloads the year file of `job` with `client` into an index whose
  // values go to `job.valuesPath`; CWebArchive's codes, or kRefusedRuns
  // for a file refused for its codes' order. Touches no member, so the
  // fetching-ahead thread uses it too.
  [[nodiscard]] static int32_t LoadYear(CHttpClient& client, const CArchiveAhead::Job& job,
                                        std::unique_ptr<CArchiveIndex>& kept);
  // LoadYear's code for codes that alternate past the index's bound; a
  // question answers kErrorRead for it.
  static constexpr int32_t kRefusedRuns = -20100;
  // Downloads kPathPrefix + `name` with `client` and unpacks it into
  // `sink`: 0, a download code (kErrorTooLarge for a size cap), or
  // kErrorUnpack. Touches no member.
  [[nodiscard]] static int32_t Transfer(CHttpClient& client, const std::string& name,
                                        CInflateSink& sink, uint64_t maxUnpacked);
  // The private folder with a trailing "/", made on first use; empty when
  // it cannot be made.
  const std::string& Folder();
  // Notes the cause of a local fault and answers kErrorLocal.
  [[nodiscard]] int32_t LocalFault();

  CLocalClock clock_;
  CHttpClient client_;
  std::string folder_;
  std::string localError_;
  // Files refused for their size or the order of their codes, by name,
  // with the code they gave: asked again, they give it without a request.
  std::map<std::string, int32_t> refused_;
  CBrandMap brands_;
  CDivideMap divides_;
  Years priceYears_;
  CChartTable latest_;
  Years marginYears_;
  // Stopped first by the destructor, so that its thread lets go of the
  // private folder before the folder goes.
  CArchiveAhead ahead_;
};

#endif  // TICKORA_WEB_WEB_ARCHIVE_H_
