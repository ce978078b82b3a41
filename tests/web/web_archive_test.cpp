#include "web/web_archive.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "tests/web/archive_test_util.h"

namespace {

using WebArchiveTest = SimMarketTest;

TEST_F(WebArchiveTest, AnswersEveryKindAsTheMarketFetchingEachFileOnce) {
  const CSimMarket& market = SmallMarket();
  auto archive = Make();
  CBrandMap brands;
  CDivideMap splits;
  CChartTable latest;
  market.BrandsOn(CDate(2024, 6, 15), brands);
  market.SplitsUpTo(CDate(2024, 6, 15), splits);
  market.LatestBars(kToday, latest);
  std::vector<std::string> codes;
  size_t withSplits = 0, withBars = 0, withMargin = 0;
  for (const CSimIssue& issue : market.Issues()) {
    const std::string& code = issue.record.code;
    SCOPED_TRACE(code);
    codes.push_back(code);
    CBrandRecord record;
    const CBrandRecord* listed = brands.Find(code);
    ASSERT_EQ(archive->GetBrand(code, record), listed ? 0 : 1);
    EXPECT_TRUE(!listed || record == *listed);
    std::vector<CDivideRecord> got;
    const CDivide* split = splits.Find(code);
    ASSERT_EQ(archive->GetDivide(code, got), split ? 0 : 1);
    EXPECT_TRUE(!split || got == std::vector<CDivideRecord>(split->begin(), split->end()));
    withSplits += split != nullptr;

    // Prices as traded and balances as reported, a year a call.
    const auto series = market.Series(code);
    const uint32_t first = 20220315, last = kToday.ToNumber();
    CChart bars, expectedBars;
    std::vector<CMarginRecord> margin, expectedMargin;
    for (const CDayRecord& bar : series->raw) {
      if (bar.DateNumber() >= first) expectedBars.push_back(AsInFile(bar));
    }
    for (const CMarginRecord& entry : series->margin) {
      if (entry.date.ToNumber() >= first) expectedMargin.push_back(entry);
    }
    uint32_t from = first, from2 = first;
    while (from <= last || from2 <= last) {
      CQuoteItems items;
      std::vector<CMarginRecord> entries;
      bool adjust = true;
      ASSERT_EQ(archive->GetPrice(from, last, code, items, adjust), 0);
      ASSERT_EQ(archive->GetMargin(from2, last, code, entries), 0);
      EXPECT_FALSE(adjust);
      for (const CQuoteItem& item : items) bars.push_back(item.record);
      margin.insert(margin.end(), entries.begin(), entries.end());
    }
    EXPECT_EQ(from, last + 1);
    EXPECT_EQ(bars, expectedBars);
    EXPECT_EQ(margin, expectedMargin);
    withBars += !bars.empty();
    withMargin += !margin.empty();
  }
  EXPECT_TRUE(withSplits > 0 && withBars > 20 && withMargin > 5);

  codes.push_back("0000");  // in no file: skipped
  CQuoteItems all;
  for (int32_t position = 0; position < static_cast<int32_t>(codes.size());) {
    CQuoteItems items;
    ASSERT_EQ(archive->GetPriceLast(position, codes, items), 0);
    all.insert(all.end(), items.begin(), items.end());
  }
  ASSERT_EQ(all.size(), latest.size());
  for (const CQuoteItem& item : all) EXPECT_EQ(item.record, AsInFile(latest.at(item.code).back()));

  std::vector<std::string> requested = Requested();
  std::sort(requested.begin(), requested.end());
  EXPECT_EQ(requested, (std::vector<std::string>{
                           "brand-20240615.bin", "divide-20240615.bin", "margin-2022.bin",
                           "margin-2023.bin", "marginyear-20240619.bin", "price-2022.bin",
                           "price-2023.bin", "pricelast-20240619.bin", "priceyear-20240619.bin"}));
  // While the archive lives its folder holds the six kept years; then nothing.
  EXPECT_EQ(ArchiveFiles(tmp_.path()).size(), 1u + 6u);
  archive.reset();
  EXPECT_TRUE(ArchiveFiles(tmp_.path()).empty());
}

// A failed download or unpacking leaves no file, and the next question
// fetches again (once: then the file is loaded).
TEST_F(WebArchiveTest, FailedFetchesLeaveNothingAndAreTriedAgain) {
  struct Fault { const char* spec; std::vector<int32_t> codes; int requests; const char* message; };
  const Fault faults[] = {
      {"status=404", {-404}, 1, "HTTPサーバーがステータスコード404を返しました"},
      {"status=500", {-500}, 5, "HTTPサーバーがステータスコード500を返しました"},
      {"corrupt-gzip", {-20000}, 1, "圧縮ファイルの解凍に失敗しました。"},
      // A cut body: an unpacking failure when the client hands over what
      // came, a transient failure when the client notices the cut itself.
      {"cut=20", {-20000, CHttpClient::kErrorSend}, 0, nullptr},
  };
  for (int k = 0; k < 5; ++k) {
    for (const Fault& f : faults) {
      SCOPED_TRACE(std::string(kFiles[k]) + " " + f.spec);
      server_.ClearRequests();
      auto archive = Make();
      const int fault = AddFault(std::string(f.spec) + "@archive:" + CWebArchive::kPathPrefix + kFiles[k]);
      const int32_t code = Ask(k, *archive, "0000").result;
      EXPECT_NE(std::find(f.codes.begin(), f.codes.end(), code), f.codes.end()) << code;
      EXPECT_TRUE(!f.message || CWebArchive::GetArchiveMessage(code) == f.message);
      const std::vector<std::string> asked = Requested();
      EXPECT_TRUE(!f.requests || std::count(asked.begin(), asked.end(), kFiles[k]) == f.requests);
      EXPECT_EQ(ArchiveFiles(tmp_.path()).size(), 1u);  // the folder alone
      server_.RemoveFault(fault);
      const size_t before = Requested().size();
      EXPECT_GE(Ask(k, *archive, "0000").result, 0);
      EXPECT_GE(Ask(k, *archive, "0000").result, 0);
      EXPECT_EQ(Requested().size(), before + 1);
    }
  }
}

// A file that unpacks without a whole header does not read, and nothing of
// it is kept: every table and year is fetched again at the next question
// (a year kept empty would give every later issue no bars for it).
TEST(WebArchiveFileTest, AFileThatDoesNotReadGivesMinus20001) {
  TempDir tmp;
  ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
  FixedArchive server(std::string("\0\0\0@", 4));
  CWebArchive archive(At(kToday, 16, 0));
  for (int k = 0; k < 5; ++k) {
    SCOPED_TRACE(kFiles[k]);
    const size_t before = server.Accept().size();
    EXPECT_EQ(Ask(k, archive, "0000").result, CWebArchive::kErrorRead);
    EXPECT_EQ(Ask(k, archive, "0000").result, CWebArchive::kErrorRead);
    EXPECT_EQ(server.Accept().size(), before + 2);
  }
  EXPECT_EQ(CWebArchive::GetArchiveMessage(-20001), "ファイルアクセスに失敗しました。");
  for (const std::string& accept : server.Accept()) EXPECT_EQ(accept, "gzip, deflat");
}

// A gzip bomb (a tenth of a megabyte that unpacks to 100 MiB) passes the
// unpacked caps of every kind: the file counts as too large, not one byte
// past the cap reaches memory or the temporary folder, and the next
// question asks again.
TEST(WebArchiveFileTest, AGzipBombIsTooLargeForEveryKind) {
  TempDir tmp;
  ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
  std::string bomb = std::string("\0\0\0@", 4) + std::string(4, '\0');
  bomb.resize(100u << 20, '\0');
  FixedArchive server(bomb);
  CWebArchive archive(At(kToday, 16, 0));
  for (int k = 0; k < 5; ++k) {
    SCOPED_TRACE(kFiles[k]);
    EXPECT_EQ(Ask(k, archive, "0000").result, CHttpClient::kErrorTooLarge);
    EXPECT_EQ(ArchiveFiles(tmp.path()).size(), 1u);  // the folder alone
  }
  EXPECT_EQ(server.Accept().size(), 5u);
}

TEST_F(WebArchiveTest, TemporaryFolderReadOnlyOrWithBlanks) {
  TempDir locked;
  chmod(locked.path().c_str(), 0555);
  // The superuser writes anywhere: then a folder where nothing can be made.
  const std::string folder = access(locked.path().c_str(), W_OK) == 0 ? "/proc" : locked.path().string();
  auto archive = Make();
  {
    ScopedEnv readOnly("TMPDIR", folder.c_str());
    // A local fault, named with its cause and the folder; nothing is asked
    // for in vain.
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(Ask(k, *archive, "0000").result, CWebArchive::kErrorLocal);
      EXPECT_NE(archive->LastLocalError().find(folder), std::string::npos)
          << archive->LastLocalError();
    }
    EXPECT_TRUE(Requested().empty());
  }
  chmod(locked.path().c_str(), 0755);
  const std::string spaced = tmp_.Sub("a b/c d");
  std::filesystem::create_directories(spaced);
  ScopedEnv blanks("TMPDIR", spaced.c_str());
  for (int k = 0; k < 5; ++k) EXPECT_GE(Ask(k, *archive, "0000").result, 0);
  EXPECT_EQ(ArchiveFiles(spaced).size(), 3u);  // the folder, a price and a margin year
  archive.reset();
  EXPECT_TRUE(ArchiveFiles(spaced).empty());
}

// The private folder of a killed process is removed by a later run; that
// of a live process, or of another naming, stays.
TEST(WebArchiveFolderTest, FoldersOfProcessesThatAreGoneAreRemoved) {
  TempDir tmp;
  ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string prefix = CWebArchive::kFolderPrefix;
  const std::vector<std::string> names = {prefix + std::to_string(gone) + "-AbC123",
                                          prefix + std::to_string(getpid()) + "-XyZ789",
                                          prefix + "QwErTy", "other-" + std::to_string(gone)};
  for (const std::string& name : names) {
    std::filesystem::create_directory(tmp.Sub(name));
    std::ofstream(tmp.Sub(name + "/tmpprice2024.bin")) << "values";
  }
  EXPECT_EQ(1, CWebArchive::RemoveStaleFolders());
  for (const std::string& name : names) {
    EXPECT_EQ(name != names[0], std::filesystem::exists(tmp.Sub(name))) << name;
  }
}

// The dates in the names on each day of one week, Sunday 2024-06-16 to
// Saturday 2024-06-22, at the minutes around both price cut-offs.
TEST(WebArchiveDateTest, NamesFollowTheWeekAndTheCutoffs) {
  for (uint32_t day = 16; day <= 22; ++day) {
    SCOPED_TRACE(day);
    const CDate date(2024, 6, day);
    const bool weekday = day >= 17 && day <= 21;
    const CDate before(2024, 6, day <= 17 ? 14 : day == 22 ? 21 : day - 1);
    EXPECT_EQ(CWebArchive::LatestSaturday(date).ToNumber(), day == 22 ? 20240622u : 20240615u);
    EXPECT_EQ(CWebArchive::LatestWednesday(date).ToNumber(), day >= 19 ? 20240619u : 20240612u);
    struct Minute { int hour, minute; bool late40, late50; };
    for (const Minute& m : {Minute{15, 39, false, false}, {15, 40, true, false}, {15, 49, true, false},
                            {15, 50, true, true}, {0, 0, false, false}, {23, 59, true, true}}) {
      const CLocalTime now{date, m.hour, m.minute};
      EXPECT_EQ(CWebArchive::PriceCutoff(now, 15, 40), weekday && m.late40 ? date : before) << m.minute;
      EXPECT_EQ(CWebArchive::PriceCutoff(now, 15, 50), weekday && m.late50 ? date : before) << m.minute;
    }
  }
  EXPECT_EQ(CWebArchive::LatestSaturday(CDate(2021, 1, 1)).ToNumber(), 20201226u);
  EXPECT_EQ(CWebArchive::PriceCutoff({CDate(2024, 1, 1), 8, 0}, 15, 50).ToNumber(), 20231229u);
}

// The names the rules give, as the server sees them.
TEST_F(WebArchiveTest, RequestsTheFilesOfTheClocksDay) {
  struct Case { CDate date; int hour, minute, question; const char* file; };
  const Case cases[] = {
      {CDate(2024, 6, 14), 12, 0, 0, "brand-20240608.bin"},
      {CDate(2024, 6, 17), 15, 49, 2, "priceyear-20240614.bin"},
      {CDate(2024, 6, 17), 15, 40, 3, "pricelast-20240617.bin"},
      {CDate(2024, 6, 18), 12, 0, 4, "marginyear-20240612.bin"},
  };
  for (const Case& c : cases) {
    server_.ClearRequests();
    EXPECT_GE(Ask(c.question, *Make(At(c.date, c.hour, c.minute)), "0000").result, 0) << c.file;
    EXPECT_EQ(Requested(), std::vector<std::string>{c.file});
  }
}

TEST_F(WebArchiveTest, GetPriceLastServesFiftyCodesACall) {
  auto archive = Make();
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
    EXPECT_EQ(static_cast<int>(items.size()), served);
  }
}

}  // namespace
