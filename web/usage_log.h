#ifndef TICKORA_WEB_USAGE_LOG_H_
#define TICKORA_WEB_USAGE_LOG_H_

#include <string>

#include "web/http_client.h"

struct ifaddrs;

// The usage record: one form post to the log server's
// "/cgi-bin/postlog.pl" with four fields, in this order:
//
//   MAC    the hardware address of the first network adapter,
//          "%02X:%02X:%02X:%02X:%02X:%02X", or "(unknown)"
//   MOD    the running program's file name, without directory and
//          extension
//   MODDT  the program file's last-write time in local time,
//          "%04d-%02d-%02d %02d:%02d:%02d"; empty when it cannot be had
//   EVENT  the caller's event text
//
// The post is made once, without retrying, and its outcome is ignored:
// nothing here reports anything. A transient failure costs one request and
// one pause of 1000 ms. The log server's base is Site::kLog.

// Builds the record and posts it. Safe to call without any network.
void PostUsageLog(const std::string& event);

// The four fields above for `event`.
CHttpClient::CCGIParams BuildUsageLogParams(const std::string& event);

// The adapter address of this machine, from getifaddrs.
std::string GetAdapterAddressText();

// The address of the first interface in `list` (in list order) that has a
// link-layer (AF_PACKET) address of six bytes and is not the loopback
// interface; "(unknown)" when there is none.
std::string AdapterAddressFromList(const ifaddrs* list);

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
