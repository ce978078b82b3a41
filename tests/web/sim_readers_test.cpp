// The archive client, the page readers and the market data source against
// the simulated market, through the real HTTP client.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <tuple>

#include "db/private_brand.h"
#include "series/buffer_string.h"
#include "support/cp932.h"
#include "tests/common/monotonic_ms.h"
#include "tests/common/sim_market_fixture.h"
#include "web/site_urls.h"
#include "web/web_archive.h"
#include "web/web_history.h"
#include "web/web_market.h"
#include "web/web_result.h"
#include "web/web_stock.h"

namespace {

const CDate kToday(2024, 6, 19);  // the small market's today, a Wednesday

CLocalClock At(const CDate& date, int hour, int minute) {
  return [=] { return CLocalTime{date, hour, minute}; };
}

// The archives' private folders under `root` ("name/") and the files in
// them ("name/file").
std::set<std::string> ArchiveFiles(const std::string& root) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = std::filesystem::relative(entry.path(), root).string();
    if (name.starts_with(CWebArchive::kFolderPrefix)) files.insert(name + (entry.is_directory() ? "/" : ""));
  }
  return files;
}

// A question's result and outputs, comparable as a whole.
struct Answer {
  int32_t result = 0;
  uint32_t from = 20240105, to = 20240619;
  int32_t position = 0;
  CBrandRecord brand;
  std::vector<CDivideRecord> splits;
  CQuoteItems bars;
  bool adjust = false;
  std::vector<CMarginRecord> margin;
  std::vector<std::string> codes;
  bool operator==(const Answer&) const = default;
  bool Empty() const { return brand.code.empty() && splits.empty() && bars.empty() && margin.empty(); }
};

// A question asked from `from` to `to`, its adjust flag preset.
Answer Span(uint32_t from, uint32_t to = 20240619, bool adjust = false) {
  return {.from = from, .to = to, .adjust = adjust};
}

// The questions by index (5: the first page of the issue list), asked of
// any source that has them, and the archive file each of the first five
// needs on the small market's today.
const char* const kFiles[] = {"brand-20240615.bin", "divide-20240615.bin", "priceyear-20240619.bin",
                              "pricelast-20240619.bin", "marginyear-20240619.bin"};
template <typename Source>
Answer Ask(int question, Source& s, const std::string& code, Answer a = {}) {
  if constexpr (requires { &Source::GetBrand; }) {
    if (question == 0) a.result = s.GetBrand(code, a.brand);
    if (question == 1) a.result = s.GetDivide(code, a.splits);
    if (question == 4) a.result = s.GetMargin(a.from, a.to, code, a.margin);
  }
  if constexpr (requires { &Source::GetBrandList; }) {
    if (question == 5) a.result = s.GetBrandList(1, a.codes);
  }
  if constexpr (requires { &Source::GetPrice; }) {
    if (question == 2) a.result = s.GetPrice(a.from, a.to, code, a.bars, a.adjust);
    if (question == 3) a.result = s.GetPriceLast(a.position, {code}, a.bars);
  }
  return a;
}

// The first listed issue of the small market whose code ends in `last`.
std::string Listed(char last) {
  for (const CSimIssue& issue : SmallMarket().Issues()) {
    if (!issue.builtIn && !issue.IsDelisted() && issue.record.code.back() == last) return issue.record.code;
  }
  return "";
}

// A listed stock of the small market with margin trading and a split.
std::string Stock() {
  for (const CSimIssue& issue : SmallMarket().Issues()) {
    if (issue.record.kind == kKindStock && !issue.IsDelisted() && issue.record.lendable != 0 &&
        !SmallMarket().Series(issue.record.code)->splits.empty()) {
      return issue.record.code;
    }
  }
  return "";
}

class SimReadersTest : public SimMarketFixture {
 protected:
  std::unique_ptr<CWebArchive> Archive(CLocalClock clock = At(kToday, 16, 0)) {
    auto archive = std::make_unique<CWebArchive>(std::move(clock));
    archive->Client().SetRetryPause(5);
    return archive;
  }
  std::unique_ptr<CWebMarket> Market(bool archive = true) {
    auto market = std::make_unique<CWebMarket>(At(kToday, 16, 0));
    market->Archive().Client().SetRetryPause(5);
    market->Stock().Client().SetRetryPause(5);
    market->History().SetRetryPause(5);
    market->SetArchivePreference(archive);
    return market;
  }
  // The archive files asked for, in order.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    const size_t prefix = strlen(CWebArchive::kPathPrefix);
    for (const CSimRequestRecord& r : server_->Requests()) {
      if (r.site == Site::kArchive) names.push_back(r.path.substr(prefix));
    }
    return names;
  }
  size_t PageRequests() const { return server_->Requests().size() - Files().size(); }
};

// ---- The archive -------------------------------------------------------------

// A year a call, not to be adjusted, the balances on `from` and `to`
// themselves included (the bars and their values are compared with the market by the
// setup runs, whose update asks from a day with a bar); each file is
// fetched once however many questions need it; the latest bars come fifty
// codes a call; the years stay in the archive's folder until the archive
// goes.
TEST_F(SimReadersTest, ArchiveFetchesEachFileOnceAndKeepsItsYearsWhileItLives) {
  auto archive = Archive();
  const std::string code = Stock();
  for (int q : {0, 1}) EXPECT_GE(Ask(q, *archive, code).result, 0);
  const CMargin& model = SmallMarket().Series(code)->margin;
  const auto first = std::find_if(model.begin(), model.end(), [](const CMarginRecord& m) {
    return m.date.ToNumber() >= 20220315;
  });
  const CDate last = model.back().date;
  Answer price = Span(20220315), margin = Span(first->date.ToNumber(), last.ToNumber());
  size_t weeks = 0;
  for (uint32_t year = 2022; price.from <= 20240619; ++year) {
    price = Ask(2, *archive, code, Span(price.from, 20240619, true));
    margin = Ask(4, *archive, code, Span(margin.from, margin.to));
    ASSERT_TRUE(price.result == 0 && margin.result == 0) << year;
    EXPECT_FALSE(price.adjust);
    EXPECT_EQ(price.from, year < 2024 ? (year + 1) * 10000 + 101 : 20240620u) << year;
    EXPECT_EQ(margin.from, year < 2024 ? price.from : last.AddDays(1).ToNumber()) << year;
    weeks += margin.margin.size();
  }
  EXPECT_EQ(weeks, static_cast<size_t>(model.end() - first));
  CChartTable latest;
  SmallMarket().LatestBars(kToday, latest);
  std::vector<std::string> codes;
  while (codes.size() < 120) {
    for (auto it = latest.begin(); it != latest.end() && codes.size() < 120; ++it) codes.push_back(it->first);
  }
  int32_t position = 0;
  for (auto [next, served] : {std::pair{50, 50}, {100, 50}, {120, 20}, {120, 0}}) {
    CQuoteItems items;
    ASSERT_EQ(archive->GetPriceLast(position, codes, items), 0);
    EXPECT_EQ(position, next);
    ASSERT_EQ(static_cast<int>(items.size()), served);
    for (const CQuoteItem& item : items) EXPECT_EQ(item.record.close, static_cast<float>(latest.at(item.code).back().close));
  }
  std::vector<std::string> requested = Files();
  std::sort(requested.begin(), requested.end());
  EXPECT_EQ(requested, (std::vector<std::string>{
                           "brand-20240615.bin", "divide-20240615.bin", "margin-2022.bin",
                           "margin-2023.bin", "marginyear-20240619.bin", "price-2022.bin",
                           "price-2023.bin", "pricelast-20240619.bin", "priceyear-20240619.bin"}));
  EXPECT_EQ(ArchiveFiles(tmp_.path()).size(), 1u + 6u);  // the folder and six years
}

// A failed download, unpacking or read leaves no file, and the next
// question fetches again (once: then the file is loaded). A file refused
// for its size is not fetched again: a gzip bomb (a tenth of a megabyte
// that unpacks to 100 MiB) passes the unpacked cap of every kind. Every
// such failure sends the market's question to the pages, whose answer is
// then the market's.
TEST_F(SimReadersTest, ArchiveFailuresLeaveNothingAreFetchedAgainAndGoToThePages) {
  std::vector<Answer> pages;  // the pages' answers, the archive not asked
  for (int k = 0; k < 5; ++k) {
    pages.push_back(Ask(k, *Market(false), Stock()));
    EXPECT_TRUE(pages.back().result == 0 && !pages.back().Empty()) << kFiles[k];
  }
  // `played`: a fault of the simulated archive, or with `canned` a file
  // that is served packed as it is. A `lasting` one stays for two more
  // questions. `requests` by the failing question (0: not counted),
  // `again` by the two more.
  struct Case { std::string played; std::vector<int32_t> codes; size_t requests, again;
                const char* message; bool lasting = false; std::string canned = ""; };
  const Case cases[] = {
      {"status=404", {-404}, 1, 1, "HTTPサーバーがステータスコード404を返しました"},
      {"status=500", {-500}, 5, 1, "HTTPサーバーがステータスコード500を返しました"},
      {"corrupt-gzip", {CWebArchive::kErrorUnpack}, 1, 1, "圧縮ファイルの解凍に失敗しました。"},
      // A cut body: an unpacking failure when the client hands over what
      // came, a transient failure when the client notices the cut itself.
      {"cut=20", {CWebArchive::kErrorUnpack, CHttpClient::kErrorSend}, 0, 1, nullptr},
      // No whole header: nothing of it is kept (a year kept empty would
      // give every later issue no bars for it).
      {"", {CWebArchive::kErrorRead}, 1, 2, "ファイルアクセスに失敗しました。", true,
       std::string("\0\0\0@", 4)},
      // A gzip bomb (a tenth of a megabyte that unpacks to 100 MiB) passes
      // the unpacked cap of every kind.
      {"gzip-bomb=104857600", {CHttpClient::kErrorTooLarge}, 1, 0, nullptr, true},
  };
  for (const Case& c : cases) {
    for (int k = 0; k < 5; ++k) {
      SCOPED_TRACE(std::string(kFiles[k]) + " " + c.played);
      const std::string path = std::string(CWebArchive::kPathPrefix) + kFiles[k];
      std::string packed;
      if (!c.canned.empty() && CSimArchive::Gzip(c.canned, packed)) {
        server_->SetPage(Site::kArchive, path, packed);
      }
      const int fault = c.played.empty() ? -1 : AddFault(c.played + "@archive:" + path);
      server_->ClearRequests();
      auto archive = Archive();
      const int32_t code = Ask(k, *archive, "0000").result;
      EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), code), c.codes.end()) << code;
      EXPECT_TRUE(!c.message || CWebArchive::GetArchiveMessage(code) == c.message);
      EXPECT_TRUE(!c.requests || Files().size() == c.requests);
      EXPECT_EQ(ArchiveFiles(tmp_.path()).size(), 1u);  // the folder alone
      EXPECT_EQ(Ask(k, *Market(), Stock()), pages[k]);
      if (!c.lasting) server_->RemoveFault(fault);
      const size_t before = Files().size();
      for (int i = 0; i < 2; ++i) {
        const int32_t again = Ask(k, *archive, "0000").result;
        EXPECT_TRUE(c.lasting ? again == code : again >= 0) << again;
      }
      EXPECT_EQ(Files().size() - before, c.again);
      for (const CSimRequestRecord& r : server_->Requests()) {
        EXPECT_TRUE(r.site != Site::kArchive || r.acceptEncoding == "gzip, deflat");
      }
      server_->ClearFaults();
      server_->ClearPages();
    }
  }
}

// A temporary folder where nothing can be made is a local fault: it stands
// as the market's answer, named with its cause and the folder, and nothing
// is asked of any site; it is not kept once a folder can be made.
TEST_F(SimReadersTest, ATemporaryFolderWhereNothingCanBeMadeIsALocalFault) {
  TempDir locked;
  chmod(locked.path().c_str(), 0555);
  // The superuser writes anywhere: then a folder where nothing can be made.
  const std::string folder = access(locked.path().c_str(), W_OK) == 0 ? "/proc" : locked.path().string();
  auto market = Market();
  {
    ScopedEnv readOnly("TMPDIR", folder.c_str());
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(Ask(k, *market, Stock()).result, CWebArchive::kErrorLocal);
      EXPECT_NE(market->GetMessage(CWebArchive::kErrorLocal).find(folder), std::string::npos)
          << market->GetMessage(CWebArchive::kErrorLocal);
    }
    EXPECT_TRUE(server_->Requests().empty());
  }
  // Once a folder can be made, the same market answers.
  for (int k = 0; k < 5; ++k) EXPECT_EQ(Ask(k, *market, Stock()).result, 0);
  chmod(locked.path().c_str(), 0755);
}

// The private folder of a killed process is removed by a later run; that
// of a live process, or of another naming, stays.
TEST_F(SimReadersTest, FoldersOfProcessesThatAreGoneAreRemoved) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string prefix = CWebArchive::kFolderPrefix;
  const std::vector<std::string> names = {prefix + std::to_string(gone) + "-AbC123",
                                          prefix + std::to_string(getpid()) + "-XyZ789",
                                          prefix + "QwErTy", "other-" + std::to_string(gone)};
  for (const std::string& name : names) {
    std::filesystem::create_directory(tmp_.Sub(name));
    std::ofstream(tmp_.Sub(name + "/tmpprice2024.bin")) << "values";
  }
  EXPECT_EQ(1, CWebArchive::RemoveStaleFolders());
  for (const std::string& name : names) {
    EXPECT_EQ(name != names[0], std::filesystem::exists(tmp_.Sub(name))) << name;
  }
}

// The names the clock's day gives, as the server sees them: issue and
// split files of the latest Saturday, margin years of the latest
// Wednesday, price files of the last weekday whose close is out (the year
// at 15:50, the latest bars at 15:40).
TEST_F(SimReadersTest, ArchiveAsksForTheFilesOfTheClocksDay) {
  struct Case { CDate date; int hour, minute, question; const char* file; };
  const Case cases[] = {
      {CDate(2024, 6, 14), 12, 0, 0, "brand-20240608.bin"},
      {CDate(2024, 6, 22), 0, 0, 0, "brand-20240622.bin"},
      {CDate(2021, 1, 1), 12, 0, 1, "divide-20201226.bin"},
      {CDate(2024, 6, 17), 15, 49, 2, "priceyear-20240614.bin"},
      {CDate(2024, 6, 17), 15, 50, 2, "priceyear-20240617.bin"},
      {CDate(2024, 6, 18), 10, 55, 2, "priceyear-20240617.bin"},
      {CDate(2024, 6, 16), 23, 59, 2, "priceyear-20240614.bin"},
      {CDate(2024, 1, 1), 8, 0, 2, "priceyear-20231229.bin"},
      {CDate(2024, 6, 17), 15, 39, 3, "pricelast-20240614.bin"},
      {CDate(2024, 6, 17), 15, 40, 3, "pricelast-20240617.bin"},
      {CDate(2024, 6, 21), 23, 59, 3, "pricelast-20240621.bin"},
      {CDate(2024, 6, 18), 12, 0, 4, "marginyear-20240612.bin"},
      {CDate(2024, 6, 19), 0, 0, 4, "marginyear-20240619.bin"},
  };
  for (const Case& c : cases) {
    server_->ClearRequests();
    const uint32_t from = c.date.year * 10000 + 105u;
    (void)Ask(c.question, *Archive(At(c.date, c.hour, c.minute)), "0000", Span(from));
    EXPECT_EQ(Files(), std::vector<std::string>{c.file});
  }
}

// ---- Fetching ahead ----------------------------------------------------------

// Queued before any question, every year arrives by itself; the questions
// then ask for nothing, and a 404 met ahead is the answer of the first
// question for that year, while the next question fetches it again, as
// without fetching ahead.
TEST_F(SimReadersTest, YearsArriveAheadOfTheQuestionsAndAFailureIsMetOnce) {
  const std::string margin2023 = "margin-2023.bin";
  AddFault("status=404@archive:" + std::string(CWebArchive::kPathPrefix) + margin2023);
  auto archive = Archive();
  archive->FetchPricesAhead(2022);
  archive->FetchMarginsAhead(2023);
  for (int i = 0; i < 500 && Files().size() < 5; ++i) usleep(10000);
  // Ahead, each 404 costs one request: the attempts absorb only transient
  // failures.
  const std::set<std::string> ahead = {"price-2022.bin", "price-2023.bin",
                                       "priceyear-20240619.bin", "marginyear-20240619.bin",
                                       margin2023};
  const std::string code = SmallMarket().Issues().back().record.code;
  Answer a;
  for (a.from = 20220301; a.from <= 20240619 && a.result == 0;) a = Ask(2, *archive, code, a);
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(Ask(4, *archive, code, Span(20240101)).result, 0);
  std::vector<std::string> files = Files();
  EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), ahead);
  EXPECT_EQ(files.size(), ahead.size());
  for (const size_t asked : {1, 2}) {
    EXPECT_EQ(Ask(4, *archive, code, Span(20230101, 20231231)).result, -404);
    files = Files();
    EXPECT_EQ(static_cast<size_t>(std::count(files.begin(), files.end(), margin2023)), asked);
  }
}

// ---- The market data source --------------------------------------------------

// 0 and 1 from the archive are final, but for an issue the issue file
// lacks: its details are asked of the pages, as a blank row would drop out
// of every later stage.
TEST_F(SimReadersTest, TheMarketAsksThePagesOnlyAfterAnArchiveFailure) {
  const std::string code = Stock();
  // Bars from the pages come with the close as their raw close, those
  // before a split too.
  auto pages = Market(false);
  for (Answer a = Span(20220105); a.from <= 20240619;) {
    a = Ask(2, *pages, code, a);
    ASSERT_EQ(a.result, 0);
    for (const CQuoteItem& i : a.bars) {
      EXPECT_EQ(i.record.rawClose, i.record.close) << i.record.DateNumber();
    }
  }
  server_->ClearRequests();
  auto market = Market();
  for (const std::string& c : {code, std::string("0000")}) {
    for (int q = c == code ? 0 : 1; q < 5; ++q) {
      const Answer answer = Ask(q, *market, c);
      EXPECT_EQ(answer.result, c == "0000" && q == 1 ? 1 : 0) << kFiles[q];
      EXPECT_EQ(answer.Empty(), c == "0000") << kFiles[q];
    }
  }
  EXPECT_EQ(PageRequests(), 0u);
  Ask(0, *market, "0000");
  EXPECT_EQ(PageRequests(), 1u);
}

// A cancel while the archive server hangs ends the question at once with
// the cancel's code, and no page is asked for instead; so does a cancel
// while the question waits for a year under way ahead (without it, the wait
// would end only with the stalled transfer's failure). Once the flag is
// down, the next question fetches the file again. A flag set before
// reaches every reader the market asks.
TEST_F(SimReadersTest, ACancelEndsTheQuestionAndReachesEveryReader) {
  const std::string code = Stock();
  // A file read whole, a year kept by index, a year fetched ahead.
  for (const auto& [q, file, from] : {std::tuple{0, kFiles[0], 0u}, {2, kFiles[2], 0u},
                                      {2, "price-2023.bin", 20230101u}}) {
    SCOPED_TRACE(file);
    const int hang = AddFault(std::string("hang@archive:") + CWebArchive::kPathPrefix + file);
    std::atomic<std::uint8_t> cancel{0};
    auto market = Market();
    // The archive alone sees the flag, so a fallback would reach the pages.
    market->Archive().Client().SetCancelFlag(&cancel);
    Answer a;
    if (from != 0) {
      a.from = from;
      market->FetchAhead(2023, true, false);
      while (server_->FaultHits(hang) == 0) usleep(5000);  // under way before the question
    }
    std::thread canceller([&] {
      for (int i = 0; i < 10000 && server_->FaultHits(hang) == 0; ++i) usleep(1000);
      usleep(200000);
      cancel = 1;
    });
    const int64_t start = MonotonicMs();
    const Answer cancelled = Ask(q, *market, code, a);
    EXPECT_LT(MonotonicMs() - start, 3000);  // far below the client's 10 s stall limit
    canceller.join();
    EXPECT_EQ(cancelled.result, CHttpClient::kErrorCancelled);
    EXPECT_TRUE(cancelled.Empty());
    EXPECT_EQ(PageRequests(), 0u);
    server_->RemoveFault(hang);
    cancel = 0;
    a = Ask(q, *market, code, a);
    EXPECT_TRUE(a.result == 0 && !a.Empty());
  }
  server_->ClearRequests();
  std::atomic<std::uint8_t> cancel{1};
  auto market = Market();
  market->SetCancelFlag(&cancel);
  for (const bool archive : {true, false}) {
    market->SetArchivePreference(archive);
    for (const char* c : {code.c_str(), "1001", "1004", "1051", "1101"}) {
      for (int q = 0; q < 6; ++q) EXPECT_EQ(Ask(q, *market, c).result, CHttpClient::kErrorCancelled) << c << q;
    }
  }
  EXPECT_TRUE(server_->Requests().empty());
}

// ---- The page readers --------------------------------------------------------

// A market's page readers reach each https site over one kept connection
// and one TLS handshake, whichever reader asks (the finance portal's quote
// page and its histories come from two of them), and a redirection takes
// its next hops on the same connection.
TEST_F(SimReadersTest, ThePageReadersKeepOneConnectionPerSite) {
  // No connection goes idle for a minute here.
  Serve(SmallMarket(), {.https = true, .keepAliveSeconds = 60});
  const std::string code = Stock();
  const int redirect = AddFault("redirect=2@finance:/quote/" + code);
  auto market = Market(false);
  for (const std::string& c : {code, std::string("1001"), std::string("1004"), std::string("1051"),
                               std::string("1101")}) {
    for (int q = 0; q < 6; ++q) (void)Ask(q, *market, c);
  }
  EXPECT_EQ(server_->FaultHits(redirect), 1);
  int sites = 0;
  for (const CSiteSetting& s : SiteSettings()) {
    const CSimLinkCounts counts = server_->Counts(s.site);
    if (counts.requests == 0) continue;
    ++sites;
    EXPECT_EQ(counts.connections, 1) << SimSiteName(s.site) << " " << counts.requests;
    EXPECT_EQ(counts.handshakes, std::string(s.defaultBase).starts_with("https") ? 1 : 0) << SimSiteName(s.site);
  }
  EXPECT_GE(sites, 6);
  EXPECT_GT(server_->Counts().requests, 20);
}

// Margin pages, then failures through the real client: each gives its code,
// empties what it would fill and leaves `from` and `position` where they
// were; only a transient one is asked again.
TEST_F(SimReadersTest, MarginPagesAndPageFailuresGiveTheirCodes) {
  const std::string code = Stock();
  const std::string margin = "/quote/" + code + "/history?styl=margin&page=1";
  CWebStock stock;
  // The newest twenty weeks of balances, oldest first; `from` moves on by
  // the span asked for, cut to 139 days when it is twenty weeks or more.
  const CMargin& model = SmallMarket().Series(code)->margin;
  const CDate first(2024, 1, 1);
  for (const auto& [span, moved] : {std::pair{18, 19}, {139, 140}, {140, 140}, {200, 140}}) {
    const Answer a = Ask(4, stock, code, Span(first.ToNumber(), first.AddDays(span).ToNumber()));
    ASSERT_EQ(a.result, 0);
    EXPECT_EQ(a.from, first.AddDays(moved).ToNumber()) << span;
    EXPECT_EQ(a.margin, std::vector<CMarginRecord>(model.end() - 20, model.end()));
  }
  stock.Client().SetAttempts(3);
  stock.Client().SetRetryPause(1);
  CBufferString page;  // the margin page, cut inside its table of balances
  ASSERT_EQ(stock.Client().Get(server_->BaseUrl(Site::kFinance) + margin, page), 0);
  const std::string cut = "cut=" + std::to_string(std::string(page.GetText()).find("<tbody>") + 200);
  CWebHistory history(At(kToday, 16, 0));
  history.SetAttempts(3);
  history.SetRetryPause(1);
  const int32_t kBad = kWebErrorPage;
  // `question` 0-4 of the history reader (2, 3) or the stock reader, 5 the
  // issue list; `hits` the fault answered (0: not counted).
  struct Case { std::vector<std::string> faults; int question; std::string code; int32_t result; int hits; };
  const Case cases[] = {
      {{"status=404@finance:" + margin}, 4, code, -404, 1},
      {{"status=500@finance:" + margin}, 4, code, -500, 3},
      // Absorbed by the attempts; a miscount of the fault would only make
      // the retries look good.
      {{"fail-first=2/500@finance:" + margin}, 4, code, 0, 3},
      {{cut + "@finance:" + margin}, 4, code, CHttpClient::kErrorSend, 3},
      {{"altered@finance:" + margin}, 4, code, kBad, 1},
      {{"redirect=3@finance:" + margin}, 4, code, 0, 1},
      {{"status=404@/*"}, 0, code, -404, 0},
      {{"status=404@/*"}, 1, code, -404, 0},
      {{"status=404@/*"}, 5, "", -404, 0},
      {{"altered@/*"}, 0, Listed('1'), kBad, 0},  // the two quote page layouts
      {{"altered@/*"}, 0, Listed('2'), kBad, 0},
      {{"altered@/*"}, 1, code, kBad, 0},
      {{"altered@/*"}, 5, "", kBad, 0},
      {{}, 2, "9999", -404, 0},
      {{"status=500@finance:/quote/*"}, 2, code, -500, 3},
      {{"altered@finance:/quote/*"}, 2, code, kBad, 0},
      {{"altered@index-portal:/contents/*"}, 2, "1003", kBad, 0},
      {{"altered@futures-data:/data/"}, 2, "1051", kBad, 0},
      {{"altered@dow-forecast:/nydow/data/"}, 2, "1004", kBad, 0},
      {{"altered@index-portal:/contents/*"}, 3, "1101", kBad, 0},
      {{"altered@broker-futures:/future/3OSE11/index"}, 3, "1051", kBad, 0},
      {{"altered@finance:/quote/%5EDJI"}, 3, "1004", kBad, 0},
      {{"status=404@broker-futures:/future/3OSE11/index"}, 3, "1051", -404, 0},
      // The broker's changed page hands the code to the second site, whose
      // changed page is refused.
      {{"altered@broker-mobile:/bsite/price/searchStock.do", "altered@stock-info:/stock/*"}, 3, code, kBad, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.faults.empty() ? c.code : c.faults.front()) + " " + std::to_string(c.question));
    server_->ClearFaults();
    std::vector<int> ids;
    for (const std::string& fault : c.faults) ids.push_back(AddFault(fault));
    Answer a{.brand = {.name = "kept"}, .splits = std::vector<CDivideRecord>(1),
             .bars = CQuoteItems(1), .margin = std::vector<CMarginRecord>(1),
             .codes = {"1301"}};
    a = c.question == 2 || c.question == 3 ? Ask(c.question, history, c.code, a) : Ask(c.question, stock, c.code, a);
    EXPECT_EQ(a.result, c.result);
    if (c.hits) {
      EXPECT_EQ(server_->FaultHits(ids[0]), c.hits);
    }
    if (c.result == 0) continue;
    EXPECT_EQ(a.from, 20240105u);
    EXPECT_EQ(a.position, 0);
    EXPECT_TRUE(c.question != 0 || c.result == kBad || a.brand.name == "kept");  // left as it was
    EXPECT_TRUE(a.splits.empty() == (c.question == 1) && a.bars.empty() == (c.question == 2 || c.question == 3) &&
                a.margin.empty() == (c.question == 4) && a.codes.empty() == (c.question == 5));
  }
  // A quote page of a retired market gives that code, with the market read.
  server_->ClearFaults();
  server_->SetPage(Site::kFinance, "/quote/" + code, Utf8FromCp932(
      "<div class='stockMainTabName'>マザーズ</div><dl class='stocksInfo clearFix'><dt>1301</dt>"
      "<dd>業</dd></dl><table summary='株価詳細'><tr><th>名</th></tr></table>"
      "<dt>信用買残の売残に対する割合</dt><dd>---</dd></html>"));
  const Answer retired = Ask(0, stock, code);
  EXPECT_EQ(retired.result, kWebErrorRetiredMarket);
  EXPECT_EQ(retired.brand.market, "マザーズ");
}

// Stock histories come 25 days a request, up to the last day the clock
// allows. Built-in issues: the portal gives every bar of its last three
// months, adjusted, whatever was asked; the futures and Dow pages give the
// days asked for, the Dow's twenty days a request.
TEST_F(SimReadersTest, HistoriesFollowTheirStepsAndTheClock) {
  const std::string stock = Stock();
  CLocalTime now;
  CWebHistory history([&now] { return now; });
  const CLocalTime today{kToday, 16, 0};
  // Bars expected from `from` to `last` (0: none), or for `adjust` the portal's three months.
  struct Case { std::string code; uint32_t from, to; CLocalTime now; bool adjust; uint32_t nextFrom, last; };
  const Case cases[] = {
      {stock, 20240501, 20240531, today, false, 20240526, 20240524},  // asks 1-25 May
      {stock, 20240610, 20240619, CLocalTime{kToday, 14, 59}, false, 20240620, 20240618},
      {stock, 20240610, 20240619, CLocalTime{kToday, 15, 0}, false, 20240620, 20240619},
      {stock, 20240615, 20240616, today, false, 20240617, 0},  // a weekend: no rows
      {"1002", 20240101, 20240110, today, true, 20240111, 0},
      {"1101", 20240601, 20240619, today, true, 20240620, 0},
      {"1051", 20240501, 20240531, today, false, 20240601, 20240531},
      {"1004", 20240501, 20240531, today, false, 20240521, 20240520},  // asks 1-20 May
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code + " " + std::to_string(c.from));
    now = c.now;
    const CChart& bars = SmallMarket().Series(c.code)->raw;
    CDate start = bars.back().Date();
    start.AddMonths(-3);
    std::vector<uint32_t> want, got;
    for (const CDayRecord& bar : bars) {
      const uint32_t d = bar.DateNumber();
      if (c.adjust ? start < bar.Date() : d >= c.from && d <= c.last) want.push_back(d);
    }
    const Answer a = Ask(2, history, c.code, Span(c.from, c.to, !c.adjust));
    ASSERT_EQ(a.result, 0);
    EXPECT_EQ(a.adjust, c.adjust);
    EXPECT_EQ(a.from, c.nextFrom);
    for (const CQuoteItem& item : a.bars) got.push_back(item.record.DateNumber());
    EXPECT_EQ(want.empty(), !c.adjust && c.last == 0);
    EXPECT_EQ(got, want);
  }
  const CSimRequestRecord first = server_->Requests().front();
  EXPECT_EQ(first.path, "/quote/" + stock + "/history");
  EXPECT_EQ(first.query, "from=20240501&to=20240525&timeFrame=d&page=1");
}

// Latest bars of stocks from the broker, or from the second site while the
// broker fails, and of the built-in issues from their own sites; broker
// reads are spaced.
TEST_F(SimReadersTest, QuotesOfStocksFromEitherSiteAndOfBuiltInIssues) {
  const CSimMarket& market = SmallMarket();
  std::vector<std::string> codes;
  std::string delisted;
  for (const CSimIssue& issue : market.Issues()) {
    if (!issue.builtIn && !issue.IsDelisted() && codes.size() < 3) codes.push_back(issue.record.code);
    if (issue.IsDelisted() && delisted.empty()) delisted = issue.record.code;
  }
  ASSERT_FALSE(delisted.empty());
  codes.insert(codes.end(), {delisted, "9999", "1001", "1002", "1101", "1105", "1051", "1004"});
  CWebHistory history(At(kToday, 16, 0));
  history.SetAttempts(1);
  for (const bool brokerDown : {false, true}) {
    if (brokerDown) AddFault("status=503@broker-mobile:/bsite/price/searchStock.do");
    for (int32_t position = 0; position < static_cast<int32_t>(codes.size());) {
      const size_t index = static_cast<size_t>(position);
      const std::string code = codes[index];
      CQuoteItems items;
      ASSERT_EQ(history.GetPriceLast(position, codes, items), 0) << code;
      EXPECT_EQ(position, static_cast<int32_t>(index) + 1);
      ASSERT_EQ(items.size(), code == delisted || code == "9999" ? 0u : 1u) << code;
      if (items.empty()) continue;
      EXPECT_EQ(items[0].code, code);
      CDayRecord want = market.Series(code)->raw.back();
      // A stock that did not trade on the last day shows its close alone.
      const bool stock = index < 3;
      if (!stock) want.volume = 0;
      if (stock && !(want.Date() == market.LastDate())) {
        want.open = want.high = want.low = want.close;
        want.volume = 0;
      }
      const CDayRecord& got = items[0].record;
      // A Wednesday at 16:00: every rule gives the day itself but the
      // Dow's (New York has not opened yet).
      EXPECT_EQ(got.DateNumber(), code == "1004" ? 20240618u : 20240619u) << code;
      const double g[] = {got.open, got.high, got.low, got.close, got.volume, got.rawClose};
      const double w[] = {want.open, want.high, want.low, want.close, want.volume, want.close};
      for (int i = 0; i < 6; ++i) EXPECT_NEAR(g[i], w[i], 1e-9 * w[i]) << code << " #" << i;
    }
    std::vector<int64_t> broker;
    size_t second = 0;
    for (const CSimRequestRecord& r : server_->Requests()) {
      second += r.site == Site::kStockInfo;
      if (r.site == Site::kBrokerMobile) broker.push_back(r.timeMs);
    }
    // The second site is asked only when the broker fails: once a stock.
    EXPECT_EQ(second, brokerDown ? 5u : 0u);
    // The server stamps wall time, the reader spaces by a monotonic clock:
    // allow a few milliseconds between them.
    for (size_t i = 1; !brokerDown && i < broker.size(); ++i) EXPECT_GE(broker[i] - broker[i - 1], 295);
    server_->ClearRequests();
  }
}

// A table of one row a date: the date in a `cell`, then `figures` cells.
std::string Rows(const std::vector<const char*>& dates, const char* cell, int figures) {
  std::string page = "<table><thead><tr><td>日付</td></tr></thead><tbody>";
  for (const char* d : dates) {
    page += std::string("<tr><") + cell + ">" + d + "</" + cell + ">";
    for (int i = 1; i <= figures; ++i) page += "<td>" + std::to_string(i) + "</td>";
    page += "</tr>";
  }
  return Utf8FromCp932(page + "</tbody></table></html>");
}

// The broker's form goes out in its field order, the button's label as
// its Shift_JIS bytes escaped one by one; the Dow's pages are asked twenty
// days at a time. Whichever order a page lists its days in, the bars come
// oldest first.
TEST_F(SimReadersTest, FormsAndRangesAsSentAndBuiltInHistoriesOldestFirst) {
  AddFault("status=404@/*");
  CWebHistory history(At(CDate(2024, 3, 11), 16, 0));
  history.SetAttempts(1);
  int32_t position = 0;
  CQuoteItems items;
  EXPECT_EQ(history.GetPriceLast(position, {"7203"}, items), 0);  // both sites 404
  uint32_t from = 20240301;
  bool adjust = false;
  EXPECT_EQ(history.GetPrice(from, 20240331, "1004", items, adjust), -404);
  std::vector<std::string> asked;
  for (const CSimRequestRecord& r : server_->Requests()) {
    asked.push_back(r.method + " " + r.path + "?" + r.query + " " + r.body);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{
                       "POST /bsite/price/searchStock.do? "
                       "ipm_product_code=7203&stock_name=&id=%8C%9F%8D%F5",
                       "GET /stock/7203? ",
                       "GET /nydow/data/?start_date=2024-03-01&end_date=2024-03-20 "}));
  server_->ClearFaults();
  const std::string portal = CPrivateBrand::Instance().Find("1101").historyPage;
  const std::vector<const char*> newest = {"2024/03/08", "2024/03/07", "2024/03/06"};
  const std::vector<const char*> oldest = {"2024/03/06", "2024/03/07", "2024/03/08"};
  for (const auto* order : {&newest, &oldest}) {
    server_->SetPage(Site::kDowForecast, "/nydow/data/", Rows(*order, "td", 4));
    server_->SetPage(Site::kFuturesData, "/data/", Rows(*order, "th", 8));
    server_->SetPage(Site::kIndexPortal, portal.substr(0, portal.find('?')), Rows(*order, "th", 4));
    for (const char* code : {"1004", "1051", "1101"}) {
      from = 20240301;
      ASSERT_EQ(history.GetPrice(from, 20240310, code, items, adjust), 0) << code;
      ASSERT_EQ(items.size(), 3u) << code;
      for (size_t i = 0; i < 3; ++i) EXPECT_EQ(items[i].record.DateNumber(), 20240306u + i) << code;
    }
  }
}

}  // namespace
