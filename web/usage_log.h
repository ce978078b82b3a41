#ifndef TICKORA_WEB_USAGE_LOG_H_
#define TICKORA_WEB_USAGE_LOG_H_

#include <cstdint>
#include <functional>
#include <string>

#include "web/http_client.h"

struct ifaddrs;

// The usage record: one form post to the log server's
// "/cgi-bin/postlog.pl" with four fields, in this order:
//
//   MAC    the hardware address of the machine's network adapter (see
//          AdapterAddressFromList), "%02X:%02X:%02X:%02X:%02X:%02X", or
//          "(unknown)"
//   MOD    the running program's file name, without directory and
//          extension
//   MODDT  the program file's last-write time in local time,
//          "%04d-%02d-%02d %02d:%02d:%02d"; empty when it cannot be had
//   EVENT  the caller's event text
//
// The post is made once, without retrying, and its outcome is ignored:
// nothing here reports anything. A transient failure costs one request and
// one pause of 1000 ms. The log server's base is Site::kLog.

// How long the post may hold the end of a run. The record is worth a few
// seconds at most: a log server that is up answers within one, and one
// that accepts and never answers (or never completes its TLS handshake)
// must not keep a finished run waiting. So the whole exchange gets 3 s and
// the client's pause after a failure its 1 s: about 4 s in all.
struct UsageLogLimits {
  int32_t exchangeMs = 3000;  // the whole exchange, connecting included
  uint32_t pauseMs = 1000;    // the pause that follows a transient failure
};

// Builds the record and posts it. Safe to call without any network.
void PostUsageLog(const std::string& event, const UsageLogLimits& limits = {});

// The four fields above for `event`.
CHttpClient::CCGIParams BuildUsageLogParams(const std::string& event);

// The adapter address of this machine, from getifaddrs.
std::string GetAdapterAddressText();

// Tells whether the network interface of a name is virtual.
using VirtualInterfaceTest = std::function<bool(const std::string& name)>;

// The adapter address in `list` (in list order): the first interface that
// is up, not the loopback, not virtual by `isVirtual`, and has a link-layer
// (AF_PACKET) address of six bytes that are not all zero. Failing that, as
// on a machine whose interfaces are all virtual or down, the first one that
// has a link-layer address of six bytes and is not the loopback.
// "(unknown)" when there is none either.
std::string AdapterAddressFromList(const ifaddrs* list,
                                   const VirtualInterfaceTest& isVirtual);

// True when the interface `name` is virtual (a bridge, a tunnel, a
// container's or a virtual machine's link): its entry <sysfs>/class/net/name
// leads into <sysfs>/devices/virtual/net. False when there is no entry, or
// for a name that could not be an interface's.
[[nodiscard]] bool IsVirtualInterface(const std::string& name,
                        const std::string& sysfs = "/sys");

// The running program's full path (/proc/self/exe), read once and kept for
// the life of the process; empty when it cannot be read.
const std::string& ModulePath();

// The part of `path` after its last "/" and before the last "." of that
// part (the whole part when it has no dot).
std::string ModuleNameFromPath(const std::string& path);

// The last-write time of the file at `path` in local time, formatted as
// MODDT above; empty when the file or its time cannot be had.
std::string FileTimeText(const std::string& path);

#endif  // TICKORA_WEB_USAGE_LOG_H_
