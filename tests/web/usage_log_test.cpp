#include "web/usage_log.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/scripted_server.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/common/sim_market_fixture.h"

namespace {

// One entry of a getifaddrs list: an address of `family` (none for 0) of
// `length` bytes, each of them `byte`. Names beginning with "v" are virtual.
struct Fake {
  const char* name;
  unsigned flags;
  int family, length;
  unsigned char byte;
};

std::string AddressOf(const std::vector<Fake>& fakes) {
  std::vector<sockaddr_ll> links(fakes.size());
  std::vector<ifaddrs> entries(fakes.size());
  for (size_t i = 0; i < fakes.size(); ++i) {
    links[i].sll_family = static_cast<unsigned short>(fakes[i].family);
    links[i].sll_halen = static_cast<unsigned char>(fakes[i].length);
    for (int b = 0; b < 8; ++b) links[i].sll_addr[b] = fakes[i].byte;
    entries[i].ifa_name = const_cast<char*>(fakes[i].name);
    entries[i].ifa_flags = fakes[i].flags;
    if (fakes[i].family != 0) entries[i].ifa_addr = reinterpret_cast<sockaddr*>(&links[i]);
    if (i + 1 < fakes.size()) entries[i].ifa_next = &entries[i + 1];
  }
  return AdapterAddressFromList(entries.empty() ? nullptr : entries.data(),
                                [](const std::string& name) { return name.starts_with("v"); });
}

}  // namespace

TEST(UsageLogTest, AnInterfaceThatIsUpAndNotVirtualIsPreferred) {
  const Fake lo = {"lo", IFF_LOOPBACK | IFF_UP, AF_PACKET, 6, 0x01};
  const Fake inet = {"eth0", IFF_UP, AF_INET, 6, 0x10}, none = {"eth0", IFF_UP, 0, 6, 0x20};
  const Fake longer = {"ib0", IFF_UP, AF_PACKET, 8, 0x30}, down = {"eth1", 0, AF_PACKET, 6, 0xAA};
  const Fake bridge = {"virbr0", IFF_UP, AF_PACKET, 6, 0xBB}, zero = {"eth2", IFF_UP, AF_PACKET, 6, 0};
  const Fake wired = {"eth3", IFF_UP, AF_PACKET, 6, 0x40}, wireless = {"wlan0", IFF_UP, AF_PACKET, 6, 0x50};
  const std::pair<std::vector<Fake>, const char*> cases[] = {
      {{}, "(unknown)"},
      {{lo, inet, none, longer}, "(unknown)"},
      {{lo, down, bridge, zero, wired, wireless}, "40:40:40:40:40:40"},
      {{wireless, wired}, "50:50:50:50:50:50"},
      // None that is up, real and set: the first that is not the loopback.
      {{lo, down, bridge, zero}, "AA:AA:AA:AA:AA:AA"},
      {{lo, zero, bridge}, "00:00:00:00:00:00"},
  };
  for (const auto& [fakes, address] : cases) EXPECT_EQ(address, AddressOf(fakes)) << fakes.size();
}

TEST(UsageLogTest, AnInterfaceIsVirtualWhenItsDeviceLiesUnderTheVirtualDevices) {
  TempDir sysfs;
  namespace fs = std::filesystem;
  fs::create_directories(sysfs.Sub("class/net"));
  for (const char* device : {"devices/virtual/net/docker0", "devices/virtual/net/lo",
                             "devices/pci0000:00/0000:00:1f.6/net/eth0", "devices/virtual/other/x0"}) {
    fs::create_directories(sysfs.Sub(device));
    const std::string name = fs::path(device).filename();
    fs::create_symlink(fs::path("../..") / device, sysfs.Sub("class/net/" + name));
  }
  const std::pair<const char*, bool> cases[] = {
      {"docker0", true}, {"lo", true}, {"eth0", false}, {"x0", false}, {"missing", false},
      {"", false}, {"..", false}, {"../net/lo", false},
  };
  for (const auto& [name, isVirtual] : cases) EXPECT_EQ(isVirtual, IsVirtualInterface(name, sysfs.path())) << name;
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

using UsageLogSimTest = SimMarketFixture;

TEST_F(UsageLogSimTest, TheRecordIsPostedOnceWithItsFourFieldsInOrder) {
  const UsageLogLimits limits = {3000, 1};
  PostUsageLog("SetupComplete", limits);
  ASSERT_EQ(1u, server_->Requests().size());
  EXPECT_TRUE(std::regex_match(
      server_->Requests()[0].body,
      std::regex("MAC=(([0-9A-F]{2}%3A){5}[0-9A-F]{2}|%28unknown%29)&MOD=tickora_web_tests"
                 "&MODDT=\\d{4}-\\d\\d-\\d\\d\\+\\d\\d%3A\\d\\d%3A\\d\\d&EVENT=SetupComplete")))
      << server_->Requests()[0].body;
  // A transient failure is not tried again, and nothing is reported.
  AddFault("status=500@log:/*");
  PostUsageLog("SetupComplete", limits);
  EXPECT_EQ(2u, server_->Requests().size());
}

TEST(UsageLogTest, APostToALogServerThatNeverAnswersGivesUpWithinItsLimit) {
  // Accepts and then says nothing: no answer to a plain post, no end to
  // the TLS handshake of a secure one.
  for (const char* scheme : {"http", "https"}) {
    ScriptedServer silent({""}, true);
    ASSERT_TRUE(silent.Start());
    ScopedEnv url("TICKORA_LOG_URL", silent.Url("", scheme).c_str());
    PostUsageLog("SetupComplete", {200, 1});
    EXPECT_EQ(1, silent.Connections()) << scheme;
    EXPECT_EQ(1, silent.GivenUpSoon(1)) << scheme;  // the post went first
  }
}
