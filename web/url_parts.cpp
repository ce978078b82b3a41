#include "web/url_parts.h"

#include <strings.h>

#include <cctype>

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

// True when `reference` begins with a scheme: a letter, then letters,
// digits, "+", "-" or ".", then ":", all before any "/", "?" or "#".
bool HasScheme(const std::string& reference) {
  if (reference.empty() || !std::isalpha(static_cast<unsigned char>(reference[0]))) {
    return false;
  }
  for (char c : reference) {
    if (c == ':') return true;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' &&
        c != '.') {
      return false;
    }
  }
  return false;
}

// Works out the "." and ".." segments of a path, as a browser does with a
// link: "/a/b/../c/./d" becomes "/a/c/d", and ".." never climbs above the
// root.
std::string RemoveDotSegments(std::string in) {
  std::string out;
  auto drop_last = [&out] {
    const size_t slash = out.rfind('/');
    out.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!in.empty()) {
    if (in.starts_with("../")) {
      in.erase(0, 3);
    } else if (in.starts_with("./") || in.starts_with("/./")) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.starts_with("/../")) {
      in.erase(0, 3);
      drop_last();
    } else if (in == "/..") {
      in = "/";
      drop_last();
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      const size_t next = in.find('/', 1);
      out += in.substr(0, next);
      in.erase(0, next == std::string::npos ? in.size() : next);
    }
  }
  return out;
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

bool CUrlParts::Resolve(const std::string& reference) {
  if (reference.empty()) return false;
  CUrlParts resolved;
  const std::string scheme = secure ? "https:" : "http:";
  if (HasScheme(reference) || reference.starts_with("//")) {
    if (!resolved.Parse(HasScheme(reference) ? reference : scheme + reference)) {
      return false;
    }
    *this = resolved;
    return true;
  }
  const size_t path_end = reference.find_first_of("?#");
  const std::string reference_path = reference.substr(0, path_end);
  const bool has_query =
      path_end != std::string::npos && reference[path_end] == '?';
  std::string new_path = path;
  std::string new_query = has_query ? reference.substr(path_end) : "";
  if (reference_path.empty()) {
    if (!has_query) new_query = query;
  } else if (reference_path[0] == '/') {
    new_path = RemoveDotSegments(reference_path);
  } else {
    new_path = RemoveDotSegments(path.substr(0, path.rfind('/') + 1) +
                                 reference_path);
  }
  // The same server: its address is written out again with the new path
  // and query and taken apart once more, so that the result meets every
  // rule Parse sets. The user name and password stay as they were.
  if (!resolved.Parse(scheme + "//" + host + ":" + std::to_string(port) +
                      new_path + new_query)) {
    return false;
  }
  resolved.userName = userName;
  resolved.password = password;
  *this = resolved;
  return true;
}

std::string CUrlParts::Compose() const {
  return std::string(secure ? "https" : "http") + "://" + host + ":" +
         std::to_string(port) + path + query;
}
