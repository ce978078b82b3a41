#include "web/web_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "tests/web/archive_test_util.h"

namespace {

TEST_F(WebArchiveTest, AnswersEveryKindAsTheMarketFetchingEachFileOnce) {
  const CSimMarket& market = SmallMarket();
  auto archive = Make();
  CBrandMap brands;
  CDivideMap splits;
  market.BrandsOn(CDate(2024, 6, 15), brands);
  market.SplitsUpTo(CDate(2024, 6, 15), splits);
  CChartTable latest;
  market.LatestBars(kToday, latest);
  ASSERT_GT(brands.Size(), 20u);

  std::vector<std::string> codes;
  int withSplits = 0, withBars = 0, withMargin = 0;
  for (const CSimIssue& issue : market.Issues()) {
    const std::string& code = issue.record.code;
    SCOPED_TRACE(code);
    codes.push_back(code);
    CBrandRecord record;
    const CBrandRecord* listed = brands.Find(code);
    ASSERT_EQ(archive->GetBrand(code, record), listed ? 0 : 1);
    if (listed) {
      EXPECT_EQ(record, *listed);
    }

    std::vector<CDivideRecord> got;
    const CDivide* split = splits.Find(code);
    ASSERT_EQ(archive->GetDivide(code, got), split ? 0 : 1);
    if (split) {
      EXPECT_EQ(got, std::vector<CDivideRecord>(split->begin(), split->end()));
    }
    withSplits += split != nullptr;

    // Prices as traded and balances as reported, year by year.
    const auto series = market.Series(code);
    const uint32_t first = 20220301, last = kToday.ToNumber();
    CChart expectedBars, bars;
    for (const CDayRecord& bar : series->raw) {
      if (bar.DateNumber() >= first && bar.DateNumber() <= last) expectedBars.push_back(AsInFile(bar));
    }
    for (uint32_t from = first; from <= last;) {
      CQuoteItems items;
      bool adjust = true;
      ASSERT_EQ(archive->GetPrice(from, last, code, items, adjust), 0);
      EXPECT_FALSE(adjust);
      for (const CQuoteItem& item : items) {
        EXPECT_EQ(item.code, code);
        bars.push_back(item.record);
      }
    }
    EXPECT_EQ(bars, expectedBars);
    withBars += !bars.empty();

    CMargin expectedMargin;
    std::vector<CMarginRecord> margin;
    for (const CMarginRecord& entry : series->margin) {
      if (entry.date.ToNumber() >= first) expectedMargin.push_back(entry);
    }
    for (uint32_t from = first; from <= last;) {
      std::vector<CMarginRecord> part;
      ASSERT_EQ(archive->GetMargin(from, last, code, part), 0);
      margin.insert(margin.end(), part.begin(), part.end());
    }
    EXPECT_EQ(margin, std::vector<CMarginRecord>(expectedMargin.begin(), expectedMargin.end()));
    withMargin += !margin.empty();
  }
  EXPECT_GT(withSplits, 0);
  EXPECT_GT(withBars, 20);
  EXPECT_GT(withMargin, 5);

  codes.push_back("0000");  // in no file: skipped
  CQuoteItems all;
  for (int32_t position = 0; position < static_cast<int32_t>(codes.size());) {
    CQuoteItems items;
    ASSERT_EQ(archive->GetPriceLast(position, codes, items), 0);
    all.insert(all.end(), items.begin(), items.end());
  }
  ASSERT_EQ(all.size(), latest.size());
  for (const CQuoteItem& item : all) {
    EXPECT_EQ(item.record, AsInFile(latest.at(item.code).back())) << item.code;
  }

  std::vector<std::string> requested = Requested(server_);
  std::sort(requested.begin(), requested.end());
  EXPECT_EQ(requested, (std::vector<std::string>{
                           "brand-20240615.bin", "divide-20240615.bin", "margin-2022.bin",
                           "margin-2023.bin", "marginyear-20240619.bin", "price-2022.bin",
                           "price-2023.bin", "pricelast-20240619.bin", "priceyear-20240619.bin"}));

  // Only the kept years remain while the archive lives; nothing after.
  EXPECT_TRUE(Leftovers().empty()) << *Leftovers().begin();
  EXPECT_EQ(FilesUnder(tmp_.path().string()).size(), 1u + 6u);  // the folder, six years
  archive.reset();
  EXPECT_TRUE(FilesUnder(tmp_.path().string()).empty());
}

// One kind of file and a question that fetches it.
struct Question {
  const char* name;
  const char* file;
  std::function<int32_t(CWebArchive&)> ask;
};

const Question kQuestions[] = {
    {"brand", "brand-20240615.bin",
     [](CWebArchive& a) { CBrandRecord r; return a.GetBrand("0000", r); }},
    {"divide", "divide-20240615.bin",
     [](CWebArchive& a) { std::vector<CDivideRecord> s; return a.GetDivide("0000", s); }},
    {"price", "price-2023.bin",
     [](CWebArchive& a) {
       uint32_t from = 20230105;
       CQuoteItems items;
       bool adjust;
       return a.GetPrice(from, 20231231, "0000", items, adjust);
     }},
    {"pricelast", "pricelast-20240619.bin",
     [](CWebArchive& a) {
       int32_t position = 0;
       CQuoteItems items;
       return a.GetPriceLast(position, {"0000"}, items);
     }},
    {"margin", "marginyear-20240619.bin",
     [](CWebArchive& a) {
       uint32_t from = 20240105;
       std::vector<CMarginRecord> entries;
       return a.GetMargin(from, 20240619, "0000", entries);
     }},
};

int Count(const std::vector<std::string>& names, const std::string& name) {
  return static_cast<int>(std::count(names.begin(), names.end(), name));
}

// A failed download or unpacking leaves nothing behind, and the next
// question fetches the file again.
TEST_F(WebArchiveTest, FailedFetchesLeaveNothingAndAreTriedAgain) {
  struct Fault {
    const char* spec;  // before "@archive:<path>"
    std::vector<int32_t> codes;
    int requests;
    const char* message;
  };
  const Fault faults[] = {
      {"status=404", {-404}, 1, "HTTPサーバーがステータスコード404を返しました"},
      {"status=500", {-500}, 5, "HTTPサーバーがステータスコード500を返しました"},
      {"corrupt-gzip", {CWebArchive::kErrorUnpack}, 1, "圧縮ファイルの解凍に失敗しました。"},
      // A body cut short: an unpacking failure when the client hands over
      // what came, a transient failure when it notices the cut itself.
      {"cut=20", {CWebArchive::kErrorUnpack, CHttpClient::kErrorSend}, 0, nullptr},
  };
  for (const Question& q : kQuestions) {
    for (const Fault& f : faults) {
      SCOPED_TRACE(std::string(q.name) + " " + f.spec);
      server_.ClearRequests();
      auto archive = Make();
      const std::string path = std::string(CWebArchive::kPathPrefix) + q.file;
      const int fault = AddFault(std::string(f.spec) + "@archive:" + path);
      const int32_t code = q.ask(*archive);
      EXPECT_NE(std::find(f.codes.begin(), f.codes.end(), code), f.codes.end()) << code;
      if (f.message) {
        EXPECT_EQ(CWebArchive::GetArchiveMessage(code), f.message);
      }
      if (f.requests) {
        EXPECT_EQ(Count(Requested(server_), q.file), f.requests);
      }
      EXPECT_TRUE(Leftovers().empty());
      server_.RemoveFault(fault);
      const int before = Count(Requested(server_), q.file);
      EXPECT_GE(q.ask(*archive), 0);
      EXPECT_EQ(Count(Requested(server_), q.file), before + 1);
      EXPECT_GE(q.ask(*archive), 0);  // loaded now: no third fetch
      EXPECT_EQ(Count(Requested(server_), q.file), before + 1);
      EXPECT_TRUE(Leftovers().empty());
    }
  }
}

TEST_F(WebArchiveTest, WithoutAWritableTemporaryFolderNothingIsRequested) {
  TempDir locked;
  chmod(locked.path().c_str(), 0555);
  // The superuser writes anywhere: then a folder where nothing can be made.
  const std::string folder = access(locked.path().c_str(), W_OK) == 0 ? "/proc" : locked.path().string();
  auto archive = Make();
  {
    ScopedEnv readOnly("TMPDIR", folder.c_str());
    for (const Question& q : kQuestions) {
      EXPECT_EQ(q.ask(*archive), CHttpClient::kErrorBufferOpen) << q.name;
    }
    EXPECT_TRUE(Requested(server_).empty());
  }
  chmod(locked.path().c_str(), 0755);
  // A later question makes the folder after all.
  for (const Question& q : kQuestions) EXPECT_GE(q.ask(*archive), 0) << q.name;
  EXPECT_EQ(Requested(server_).size(), std::size(kQuestions));
}

TEST_F(WebArchiveTest, WorksInATemporaryFolderWithBlanks) {
  const std::string spaced = tmp_.Sub("a b/c d");
  std::filesystem::create_directories(spaced);
  ScopedEnv blanks("TMPDIR", spaced.c_str());
  {
    auto archive = Make();
    for (const Question& q : kQuestions) EXPECT_GE(q.ask(*archive), 0) << q.name;
    EXPECT_EQ(FilesUnder(spaced).size(), 3u);  // the folder, a price and a margin year
  }
  EXPECT_TRUE(FilesUnder(spaced).empty());
}

// A file that unpacks but holds no whole header does not read: the issue,
// split and latest-price tables stay empty and are fetched again; a price
// or margin year is kept, empty, and answers without a new fetch.
TEST(WebArchiveFileTest, AFileThatDoesNotReadGivesMinus20001) {
  ScopedEnv noProxy("no_proxy", "*");
  TempDir tmp;
  ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
  FixedArchive server(std::string("\0\0\0@", 4));
  CWebArchive archive(At(kToday, 16, 0));
  const std::map<std::string, bool> keptEmpty = {
      {"brand", false}, {"divide", false}, {"price", true}, {"pricelast", false}, {"margin", true}};
  for (const Question& q : kQuestions) {
    SCOPED_TRACE(q.name);
    const size_t before = server.Requests();
    EXPECT_EQ(q.ask(archive), CWebArchive::kErrorRead);
    EXPECT_EQ(server.Requests(), before + 1);
    const bool kept = keptEmpty.at(q.name);
    EXPECT_EQ(q.ask(archive), kept ? 0 : CWebArchive::kErrorRead);
    EXPECT_EQ(server.Requests(), before + (kept ? 1 : 2));
  }
  EXPECT_EQ(CWebArchive::GetArchiveMessage(CWebArchive::kErrorRead), "ファイルアクセスに失敗しました。");
  for (const std::string& accept : server.Accept()) EXPECT_EQ(accept, "gzip, deflat");
}

TEST(WebArchiveFileTest, ArchiveMessages) {
  const std::pair<int32_t, const char*> cases[] = {
      {-1, "HTTPサーバーがステータスコード1を返しました"},
      {-599, "HTTPサーバーがステータスコード599を返しました"},
      {-20002, "アーカイブがありません。"},
      {-20003, "該当の時系列データがありません。"},
      {-600, "不明なエラーが発生しました。"},
      {-1004, "不明なエラーが発生しました。"},
      {0, "不明なエラーが発生しました。"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(CWebArchive::GetArchiveMessage(code), text) << code;
}

// The dates in the file names, on each day of one week (Sunday 2024-06-16
// to Saturday 2024-06-22) at the minutes around both price cut-offs.
TEST(WebArchiveDateTest, NamesFollowTheWeekAndTheCutoffs) {
  for (uint32_t day = 16; day <= 22; ++day) {
    const CDate date(2024, 6, day);
    const bool weekday = day >= 17 && day <= 21;
    SCOPED_TRACE(day);
    const CDate before(2024, 6, day == 17 ? 14 : day == 16 ? 14 : day == 22 ? 21 : day - 1);
    const uint32_t saturday = day == 22 ? 20240622 : 20240615;
    EXPECT_EQ(CWebArchive::LatestSaturday(date).ToNumber(), saturday);
    EXPECT_EQ(CWebArchive::LatestWednesday(date).ToNumber(), day >= 19 ? 20240619u : 20240612u);
    struct Minute { int hour, minute; bool late40, late50; };
    for (const Minute& m : {Minute{15, 39, false, false}, {15, 40, true, false},
                            {15, 49, true, false}, {15, 50, true, true}, {9, 0, false, false},
                            {23, 59, true, true}}) {
      const CLocalTime now{date, m.hour, m.minute};
      EXPECT_EQ(CWebArchive::PriceCutoff(now, 15, 40), weekday && m.late40 ? date : before)
          << m.hour << ":" << m.minute;
      EXPECT_EQ(CWebArchive::PriceCutoff(now, 15, 50), weekday && m.late50 ? date : before)
          << m.hour << ":" << m.minute;
    }
  }
  // Across a month and a year end.
  EXPECT_EQ(CWebArchive::LatestSaturday(CDate(2021, 1, 1)).ToNumber(), 20201226u);
  EXPECT_EQ(CWebArchive::PriceCutoff({CDate(2024, 1, 1), 8, 0}, 15, 50).ToNumber(), 20231229u);
}

// The names the rules give, as the server sees them.
TEST_F(WebArchiveTest, RequestsTheFilesOfTheClocksDay) {
  struct Case {
    CDate date;
    int hour, minute;
    int question;  // index into kQuestions
    uint32_t from;  // for the year kinds
    const char* file;
  };
  auto price = [](CWebArchive& a, uint32_t from) {
    CQuoteItems items;
    bool adjust;
    return a.GetPrice(from, 20241231, "0000", items, adjust);
  };
  auto margin = [](CWebArchive& a, uint32_t from) {
    std::vector<CMarginRecord> entries;
    return a.GetMargin(from, 20241231, "0000", entries);
  };
  const Case cases[] = {
      {CDate(2024, 6, 14), 12, 0, 0, 0, "brand-20240608.bin"},
      {CDate(2024, 6, 15), 12, 0, 1, 0, "divide-20240615.bin"},
      {CDate(2024, 6, 17), 15, 49, 2, 20240105, "priceyear-20240614.bin"},
      {CDate(2024, 6, 17), 15, 50, 2, 20240105, "priceyear-20240617.bin"},
      {CDate(2024, 6, 17), 15, 50, 2, 20230105, "price-2023.bin"},
      {CDate(2024, 6, 17), 15, 39, 3, 0, "pricelast-20240614.bin"},
      {CDate(2024, 6, 17), 15, 40, 3, 0, "pricelast-20240617.bin"},
      {CDate(2024, 6, 18), 12, 0, 4, 20240105, "marginyear-20240612.bin"},
      {CDate(2024, 6, 19), 0, 0, 4, 20240105, "marginyear-20240619.bin"},
      {CDate(2024, 6, 19), 0, 0, 4, 20220105, "margin-2022.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    server_.ClearRequests();
    auto archive = Make(At(c.date, c.hour, c.minute));
    const int32_t code = c.question == 2   ? price(*archive, c.from)
                         : c.question == 4 ? margin(*archive, c.from)
                                           : kQuestions[c.question].ask(*archive);
    EXPECT_GE(code, 0);
    EXPECT_EQ(Requested(server_), std::vector<std::string>{c.file});
  }
}

// From 15 March 2022 to 10 January 2024: three calls, one year each.
TEST_F(WebArchiveTest, GetPriceServesOneYearACall) {
  const std::string code = SmallMarket().Issues().back().record.code;
  auto archive = Make();
  uint32_t from = 20220315;
  const uint32_t to = 20240110;
  struct Step { uint32_t next, first, last; };
  for (const Step& s : {Step{20230101, 20220315, 20221231}, {20240101, 20230101, 20231231},
                        {20240111, 20240101, 20240110}}) {
    CQuoteItems items;
    bool adjust = true;
    ASSERT_EQ(archive->GetPrice(from, to, code, items, adjust), 0);
    EXPECT_EQ(from, s.next);
    ASSERT_FALSE(items.empty());
    EXPECT_GE(items.front().record.DateNumber(), s.first);
    EXPECT_LE(items.back().record.DateNumber(), s.last);
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), [](const auto& a, const auto& b) {
      return a.record.DateNumber() < b.record.DateNumber();
    }));
  }
}

TEST_F(WebArchiveTest, GetPriceLastServesFiftyCodesACall) {
  CChartTable latest;
  SmallMarket().LatestBars(kToday, latest);
  std::vector<std::string> codes;
  while (codes.size() < 120) {
    for (const auto& [code, unused] : latest) {
      if (codes.size() < 120) codes.push_back(code);
    }
  }
  auto archive = Make();
  int32_t position = 0;
  for (auto [next, served] : {std::pair{50, 50}, {100, 50}, {120, 20}, {120, 0}}) {
    CQuoteItems items;
    ASSERT_EQ(archive->GetPriceLast(position, codes, items), 0);
    EXPECT_EQ(position, next);
    EXPECT_EQ(static_cast<int>(items.size()), served);
  }
}

}  // namespace
