#include "web/site_urls.h"

#include <cstdlib>

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

const std::vector<CSiteSetting>& SiteSettings() {
  static const std::vector<CSiteSetting> settings = {
      {Site::kArchive, "TICKORA_ARCHIVE_URL", "http://archive.zelvane.example"},
      {Site::kLog, "TICKORA_LOG_URL", "https://log.zelvane.example"},
      {Site::kFinance, "TICKORA_FINANCE_URL", "https://finance.portal.example"},
      {Site::kFinanceStocks, "TICKORA_FINANCE_STOCKS_URL",
       "http://stocks.finance.portal.example"},
      {Site::kStockList, "TICKORA_STOCK_LIST_URL", "https://stock-list.example"},
      {Site::kIndexPortal, "TICKORA_INDEX_PORTAL_URL",
       "https://index-portal.example"},
      {Site::kBrokerMobile, "TICKORA_BROKER_MOBILE_URL",
       "https://mobile.broker.example"},
      {Site::kStockInfo, "TICKORA_STOCK_INFO_URL", "https://stock-info.example"},
      {Site::kFuturesData, "TICKORA_FUTURES_DATA_URL",
       "https://futures-data.example"},
      {Site::kDowForecast, "TICKORA_DOW_FORECAST_URL",
       "https://dow-forecast.example"},
      {Site::kBrokerFutures, "TICKORA_BROKER_FUTURES_URL",
       "https://www.broker.example"},
  };
  return settings;
}

std::string SiteUrl(Site site) {
  const CSiteSetting& setting = SiteSettings()[static_cast<size_t>(site)];
  std::string base = Variable(setting.variable);
  if (base.empty()) base = setting.defaultBase;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string SiteAddress(Site site, const std::string& path_and_query) {
  return SiteUrl(site) + path_and_query;
}

std::string ExtraCaFile() { return Variable(kExtraCaFileVariable); }
