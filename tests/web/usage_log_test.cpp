#include "web/usage_log.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/common/raw_http_server.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/web/local_server.h"

namespace {

// One fake interface entry of a getifaddrs list.
struct FakeInterface {
  sockaddr_ll link{};
  sockaddr_in inet{};
  ifaddrs entry{};

  FakeInterface(const char* name, unsigned flags, int family, int halen,
                unsigned char first) {
    entry.ifa_name = const_cast<char*>(name);
    entry.ifa_flags = flags;
    link.sll_family = AF_PACKET;
    link.sll_halen = static_cast<unsigned char>(halen);
    for (int i = 0; i < 8; ++i) link.sll_addr[i] = static_cast<unsigned char>(first + i);
    inet.sin_family = AF_INET;
    if (family == AF_PACKET) entry.ifa_addr = reinterpret_cast<sockaddr*>(&link);
    if (family == AF_INET) entry.ifa_addr = reinterpret_cast<sockaddr*>(&inet);
  }
};

std::string AddressOf(std::vector<FakeInterface>& interfaces) {
  for (size_t i = 0; i + 1 < interfaces.size(); ++i) {
    interfaces[i].entry.ifa_next = &interfaces[i + 1].entry;
  }
  return AdapterAddressFromList(interfaces.empty() ? nullptr : &interfaces[0].entry);
}

}  // namespace

TEST(UsageLogTest, TheFirstSixByteLinkAddressThatIsNotLoopbackIsTaken) {
  std::vector<FakeInterface> none;
  EXPECT_EQ("(unknown)", AddressOf(none));

  std::vector<FakeInterface> list;
  list.reserve(6);
  list.emplace_back("lo", IFF_LOOPBACK | IFF_UP, AF_PACKET, 6, 0x00);
  list.emplace_back("eth0", IFF_UP, AF_INET, 6, 0x10);      // not link-layer
  list.emplace_back("noaddr", IFF_UP, 0, 6, 0x20);          // no address
  list.emplace_back("ib0", IFF_UP, AF_PACKET, 8, 0x30);     // eight bytes
  list.emplace_back("eth1", 0, AF_PACKET, 6, 0xAA);         // down still counts
  list.emplace_back("eth2", IFF_UP, AF_PACKET, 6, 0x40);
  EXPECT_EQ("AA:AB:AC:AD:AE:AF", AddressOf(list));

  std::vector<FakeInterface> only_loopback;
  only_loopback.emplace_back("lo", IFF_LOOPBACK, AF_PACKET, 6, 0x01);
  EXPECT_EQ("(unknown)", AddressOf(only_loopback));

  const std::string real = GetAdapterAddressText();
  EXPECT_TRUE(real == "(unknown)" ||
              std::regex_match(real, std::regex("([0-9A-F]{2}:){5}[0-9A-F]{2}")))
      << real;
}

TEST(UsageLogTest, ProgramNameAndTimeComeFromTheRunningFile) {
  EXPECT_EQ("setup2", ModuleNameFromPath("C:/Program Files/Tickora/setup2.exe"));
  EXPECT_EQ("tickora-setup", ModuleNameFromPath("/usr/bin/tickora-setup"));
  EXPECT_EQ("setup", ModuleNameFromPath("/opt/v1.2/setup"));
  EXPECT_EQ("a.b", ModuleNameFromPath("a.b.c"));
  EXPECT_EQ("", ModuleNameFromPath(""));
  EXPECT_EQ("tickora_web_tests", ModuleNameFromPath(ModulePath()));

  TempDir dir;
  const std::string file = dir.Sub("program");
  std::ofstream(file) << "x";
  const timespec times[2] = {{1709642096, 0}, {1709642096, 0}};  // 2024-03-05 12:34:56 UTC
  ASSERT_EQ(0, utimensat(AT_FDCWD, file.c_str(), times, 0));
  {
    ScopedEnv tz("TZ", "UTC");
    tzset();
    EXPECT_EQ("2024-03-05 12:34:56", FileTimeText(file));
    ScopedEnv tokyo("TZ", "JST-9");
    tzset();
    EXPECT_EQ("2024-03-05 21:34:56", FileTimeText(file));
  }
  tzset();
  EXPECT_EQ("", FileTimeText(dir.Sub("missing")));
  EXPECT_EQ("", FileTimeText(""));
}

TEST(UsageLogTest, TheRecordIsPostedOnceWithItsFourFieldsInOrder) {
  NoProxy no_proxy;
  int status = 200;
  RawHttpServer server([&status](RawHttpServer&, int socket, const std::string&) {
    RawHttpServer::Send(socket, "HTTP/1.1 " + std::to_string(status) +
                                    " X\r\nContent-Length: 0\r\n\r\n");
  });
  ScopedEnv log("TICKORA_LOG_URL", server.Base().c_str());

  const CHttpClient::CCGIParams params = BuildUsageLogParams("SetupComplete");
  const auto& fields = params.Entries();
  ASSERT_EQ(4u, fields.size());
  EXPECT_EQ("MAC", fields[0].first);
  EXPECT_EQ(GetAdapterAddressText(), fields[0].second);
  EXPECT_EQ("MOD", fields[1].first);
  EXPECT_EQ("tickora_web_tests", fields[1].second);
  EXPECT_EQ("MODDT", fields[2].first);
  EXPECT_TRUE(std::regex_match(fields[2].second,
                               std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")))
      << fields[2].second;
  EXPECT_EQ("EVENT", fields[3].first);
  EXPECT_EQ("SetupComplete", fields[3].second);

  PostUsageLog("SetupComplete");
  ASSERT_EQ(1u, server.Requests().size());
  const std::string request = server.Requests()[0];
  EXPECT_EQ(0u, request.find("POST /cgi-bin/postlog.pl HTTP/1.1\r\n"));
  const std::string body = request.substr(request.find("\r\n\r\n") + 4);
  EXPECT_TRUE(std::regex_match(
      body, std::regex("MAC=[^&]+&MOD=tickora_web_tests&MODDT=[0-9-]+\\+[0-9%A]+"
                       "&EVENT=SetupComplete")))
      << body;

  // A transient failure is not tried again, and nothing is reported.
  status = 500;
  PostUsageLog("SetupComplete");
  EXPECT_EQ(2u, server.Requests().size());
}
