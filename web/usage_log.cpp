#include "web/usage_log.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "series/buffer_string.h"
#include "support/text.h"
#include "web/site_urls.h"

namespace {

constexpr char kUnknownAdapter[] = "(unknown)";
constexpr char kLogPath[] = "/cgi-bin/postlog.pl";

}  // namespace

namespace {

// The six bytes of the link-layer address of `entry`, or null when it has
// none of that length.
const unsigned char* SixByteAddress(const ifaddrs* entry) {
  if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) {
    return nullptr;
  }
  const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
  return link->sll_halen == 6 ? link->sll_addr : nullptr;
}

bool AllZero(const unsigned char* a) {
  for (int i = 0; i < 6; ++i) {
    if (a[i] != 0) return false;
  }
  return true;
}

}  // namespace

std::string AdapterAddressFromList(const ifaddrs* list,
                                   const VirtualInterfaceTest& isVirtual) {
  const unsigned char* fallback = nullptr;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    const unsigned char* a = SixByteAddress(entry);
    if (a == nullptr || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    if (fallback == nullptr) fallback = a;
    if ((entry->ifa_flags & IFF_UP) != 0 && !AllZero(a) &&
        !isVirtual(entry->ifa_name != nullptr ? entry->ifa_name : "")) {
      fallback = a;
      break;
    }
  }
  if (fallback == nullptr) return kUnknownAdapter;
  const unsigned char* a = fallback;
  return StringFormat("%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3],
                      a[4], a[5]);
}

bool IsVirtualInterface(const std::string& name, const std::string& sysfs) {
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos) {
    return false;
  }
  std::error_code error;
  const std::filesystem::path entry = std::filesystem::canonical(
      std::filesystem::path(sysfs) / "class" / "net" / name, error);
  if (error) return false;
  const std::filesystem::path virtual_net = std::filesystem::canonical(
      std::filesystem::path(sysfs) / "devices" / "virtual" / "net", error);
  if (error) return false;
  return entry.parent_path() == virtual_net;
}

std::string GetAdapterAddressText() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return kUnknownAdapter;
  std::string text = AdapterAddressFromList(
      list, [](const std::string& name) { return IsVirtualInterface(name); });
  freeifaddrs(list);
  return text;
}

const std::string& ModulePath() {
  static const std::string path = [] {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer)) {
      return std::string();
    }
    return std::string(buffer, static_cast<size_t>(length));
  }();
  return path;
}

std::string ModuleNameFromPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::string FileTimeText(const std::string& path) {
  struct stat info;
  if (path.empty() || stat(path.c_str(), &info) != 0) return std::string();
  std::tm local;
  const std::time_t time = info.st_mtime;
  if (localtime_r(&time, &local) == nullptr) return std::string();
  return StringFormat("%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec);
}

CHttpClient::CCGIParams BuildUsageLogParams(const std::string& event) {
  CHttpClient::CCGIParams params;
  params.Add("MAC", GetAdapterAddressText());
  params.Add("MOD", ModuleNameFromPath(ModulePath()));
  params.Add("MODDT", FileTimeText(ModulePath()));
  params.Add("EVENT", event);
  return params;
}

void PostUsageLog(const std::string& event, const UsageLogLimits& limits) {
  try {
    CHttpClient client;
    client.SetAttempts(1);
    client.SetRetryPause(limits.pauseMs);
    client.SetConnectTimeout(limits.exchangeMs);
    client.SetExchangeTimeout(limits.exchangeMs);
    CBufferString answer;
    // The record is a courtesy to the maker: its outcome is not examined.
    (void)client.Post(SiteAddress(Site::kLog, kLogPath), {},
                      BuildUsageLogParams(event), answer);
  } catch (...) {
    // Even running out of memory is no reason to fail a finished run.
  }
}
