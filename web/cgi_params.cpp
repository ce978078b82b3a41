#include "web/http_client.h"

#include "web/url_encode.h"

void CHttpClient::CCGIParams::Add(const std::string& name,
                                  const std::string& value) {
  entries_.emplace_back(name, value);
}

std::string CHttpClient::CCGIParams::EncodeForm() const {
  std::string form;
  for (const Entry& entry : entries_) {
    if (!form.empty()) form.push_back('&');
    form += UrlEncode(entry.first);
    form.push_back('=');
    form += UrlEncode(entry.second);
  }
  return form;
}
