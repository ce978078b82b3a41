#include "web/usage_log.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/local_server.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"

namespace {

// One entry of a getifaddrs list: an address of `family` (none for 0) with
// `length` bytes counting up from `first`.
struct Fake {
  unsigned flags;
  int family, length;
  unsigned char first;
};

std::string AddressOf(const std::vector<Fake>& fakes) {
  std::vector<sockaddr_ll> links(fakes.size());
  std::vector<ifaddrs> entries(fakes.size());
  for (size_t i = 0; i < fakes.size(); ++i) {
    links[i].sll_family = static_cast<unsigned short>(fakes[i].family);
    links[i].sll_halen = static_cast<unsigned char>(fakes[i].length);
    for (int b = 0; b < 8; ++b) links[i].sll_addr[b] = static_cast<unsigned char>(fakes[i].first + b);
    entries[i].ifa_flags = fakes[i].flags;
    if (fakes[i].family != 0) entries[i].ifa_addr = reinterpret_cast<sockaddr*>(&links[i]);
    if (i + 1 < fakes.size()) entries[i].ifa_next = &entries[i + 1];
  }
  return AdapterAddressFromList(entries.empty() ? nullptr : entries.data());
}

}  // namespace

TEST(UsageLogTest, TheFirstSixByteLinkAddressThatIsNotLoopbackIsTaken) {
  EXPECT_EQ("(unknown)", AddressOf({}));
  EXPECT_EQ("(unknown)", AddressOf({{IFF_LOOPBACK, AF_PACKET, 6, 0x01}}));
  EXPECT_EQ("AA:AB:AC:AD:AE:AF", AddressOf({{IFF_LOOPBACK | IFF_UP, AF_PACKET, 6, 0x00},
                                           {IFF_UP, AF_INET, 6, 0x10},
                                           {IFF_UP, 0, 6, 0x20},
                                           {IFF_UP, AF_PACKET, 8, 0x30},
                                           {0, AF_PACKET, 6, 0xAA},  // down still counts
                                           {IFF_UP, AF_PACKET, 6, 0x40}}));
}

TEST(UsageLogTest, ProgramNameAndTimeComeFromTheRunningFile) {
  const std::pair<std::string, const char*> names[] = {
      {"C:/Program Files/Tickora/setup2.exe", "setup2"}, {"/opt/v1.2/setup", "setup"},
      {"a.b.c", "a.b"}, {"", ""}, {ModulePath(), "tickora_web_tests"}};
  for (const auto& [path, name] : names) EXPECT_EQ(name, ModuleNameFromPath(path)) << path;

  TempDir dir;
  const std::string file = dir.Sub("program");
  std::ofstream(file) << "x";
  const timespec times[2] = {{1709642096, 0}, {1709642096, 0}};  // 2024-03-05 12:34:56 UTC
  ASSERT_EQ(0, utimensat(AT_FDCWD, file.c_str(), times, 0));
  const std::pair<const char*, const char*> zones[] = {{"UTC", "2024-03-05 12:34:56"},
                                                       {"JST-9", "2024-03-05 21:34:56"}};
  for (const auto& [zone, text] : zones) {
    ScopedEnv tz("TZ", zone);
    tzset();
    EXPECT_EQ(text, FileTimeText(file)) << zone;
  }
  tzset();
  EXPECT_EQ("", FileTimeText(dir.Sub("missing")));
}

TEST(UsageLogTest, TheRecordIsPostedOnceWithItsFourFieldsInOrder) {
  LocalServer log;
  std::atomic<int> posts{0}, status{200};
  std::string body;
  log.server->Post("/cgi-bin/postlog.pl", [&](const httplib::Request& req, httplib::Response& res) {
    body = req.body;
    res.status = status;
    ++posts;
  });
  ASSERT_TRUE(log.Start());
  ScopedEnv url("TICKORA_LOG_URL", log.Url("").c_str());
  PostUsageLog("SetupComplete");
  ASSERT_EQ(1, posts);
  EXPECT_TRUE(std::regex_match(
      body, std::regex("MAC=(([0-9A-F]{2}%3A){5}[0-9A-F]{2}|%28unknown%29)&MOD=tickora_web_tests"
                       "&MODDT=\\d{4}-\\d\\d-\\d\\d\\+\\d\\d%3A\\d\\d%3A\\d\\d&EVENT=SetupComplete")))
      << body;
  // A transient failure is not tried again, and nothing is reported.
  status = 500;
  PostUsageLog("SetupComplete");
  EXPECT_EQ(2, posts);
}
