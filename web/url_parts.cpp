#include "web/url_parts.h"

#include <strings.h>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes %XX escapes; a "%" not followed by two hexadecimal digits stays.
std::string Decode(const std::string& text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (text[i] == '%' && high >= 0 && low >= 0) {
      decoded.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  return decoded;
}

bool ParsePort(const std::string& digits, uint16_t& port) {
  if (digits.empty() || digits.size() > 5) return false;
  uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool CUrlParts::Parse(const std::string& url) {
  for (char c : url) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) return false;
  }

  const size_t colon = url.find("://");
  if (colon == std::string::npos || colon == 0 || colon > kMaxPart) {
    return false;
  }
  const std::string scheme = url.substr(0, colon);
  if (strcasecmp(scheme.c_str(), "http") == 0) {
    secure = 0;
  } else if (strcasecmp(scheme.c_str(), "https") == 0) {
    secure = 1;
  } else {
    return false;
  }

  const size_t authority_begin = colon + 3;
  size_t authority_end = url.find_first_of("/?#", authority_begin);
  if (authority_end == std::string::npos) authority_end = url.size();
  std::string authority =
      url.substr(authority_begin, authority_end - authority_begin);

  userName.clear();
  password.clear();
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    const std::string user_info = authority.substr(0, at);
    authority.erase(0, at + 1);
    const size_t separator = user_info.find(':');
    userName = Decode(user_info.substr(0, separator));
    if (separator != std::string::npos) {
      password = Decode(user_info.substr(separator + 1));
    }
  }

  std::string port_text;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      port_text = rest.substr(1);
    }
  } else {
    const size_t separator = authority.find(':');
    host = authority.substr(0, separator);
    if (separator != std::string::npos) {
      port_text = authority.substr(separator + 1);
    }
  }
  if (host.empty()) return false;
  // "host:" with nothing after the colon takes the scheme's default port.
  port = secure ? 443 : 80;
  if (!port_text.empty() && !ParsePort(port_text, port)) return false;

  // Everything after a "#" that comes before any "?" is a fragment, which
  // is never sent. A query runs from the first "?" to the end of the text,
  // so a second "?" belongs to it.
  const size_t path_end = url.find_first_of("?#", authority_end);
  path = url.substr(authority_end, path_end == std::string::npos
                                       ? std::string::npos
                                       : path_end - authority_end);
  if (path.empty()) path = "/";
  query.clear();
  if (path_end != std::string::npos && url[path_end] == '?') {
    query = url.substr(path_end);
  }

  return host.size() <= kMaxPart && userName.size() <= kMaxPart &&
         password.size() <= kMaxPart && path.size() <= kMaxPart &&
         query.size() <= kMaxQuery;
}

std::string CUrlParts::Compose() const {
  return std::string(secure ? "https" : "http") + "://" + host + ":" +
         std::to_string(port) + path + query;
}
