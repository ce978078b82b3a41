#include "web/web_market.h"

#include "web/http_client.h"
#include "web/usage_log.h"
#include "web/web_archive.h"
#include "web/web_history.h"
#include "web/web_result.h"
#include "web/web_stock.h"

namespace {

// The archive's own codes, from kErrorUnpack down.
constexpr std::int32_t kArchiveCodesFirst = -29999;
constexpr std::int32_t kArchiveCodesLast = -20000;

// Bars read from pages carry whatever their reader put in the raw close;
// the market data source hands them on with the raw close equal to the
// close.
void AsWebRecords(CQuoteItems& records) {
  for (CQuoteItem& item : records) item.record.rawClose = item.record.close;
}

}  // namespace

CWebMarket::CWebMarket(CLocalClock clock)
    : connections_(std::make_unique<CHttpConnections>()),
      stock_(std::make_unique<CWebStock>()),
      history_(std::make_unique<CWebHistory>(clock)),
      archive_(std::make_unique<CWebArchive>(clock)) {
  stock_->Client().ShareConnections(connections_.get());
  history_->ShareConnections(connections_.get());
}

CWebMarket::~CWebMarket() = default;

void CWebMarket::SetClock(const CLocalClock& clock) {
  history_->SetClock(clock);
  archive_->SetClock(clock);
}

bool CWebMarket::IsFinal(std::int32_t archive_result) {
  return archive_result >= 0 || archive_result == CHttpClient::kErrorCancelled ||
         archive_result == CWebArchive::kErrorLocal;
}

void CWebMarket::FetchAhead(std::int32_t firstYear, bool prices, bool margins) {
  if (!useArchive_) return;
  if (prices) archive_->FetchPricesAhead(firstYear);
  if (margins) archive_->FetchMarginsAhead(firstYear);
}

void CWebMarket::StopAhead() { archive_->StopAhead(); }

void CWebMarket::SetCancelFlag(const std::atomic<std::uint8_t>* cancel) {
  archive_->Client().SetCancelFlag(cancel);
  stock_->Client().SetCancelFlag(cancel);
  history_->SetCancelFlag(cancel);
}

namespace {

// Each question goes to the archive first when the preference is on; only
// an answer that is not final (CWebMarket::IsFinal) sends it on to the page
// reader. `pagesOnNoEntry` sends on the archive's kNoEntry too.
template <class FromArchive, class FromPages>
std::int32_t ArchiveFirst(bool useArchive, FromArchive fromArchive,
                          FromPages fromPages, bool pagesOnNoEntry = false) {
  if (useArchive) {
    const std::int32_t result = fromArchive();
    const bool sendOn = pagesOnNoEntry && result == CWebArchive::kNoEntry;
    if (CWebMarket::IsFinal(result) && !sendOn) return result;
  }
  return fromPages();
}

}  // namespace

std::int32_t CWebMarket::GetBrand(const std::string& code, CBrandRecord& record) {
  // An issue the archive does not list may still have a quote page.
  return ArchiveFirst(
      useArchive_, [&] { return archive_->GetBrand(code, record); },
      [&] { return stock_->GetBrand(code, record); }, true);
}

std::int32_t CWebMarket::GetBrandList(std::int32_t page, std::vector<std::string>& codes) {
  return stock_->GetBrandList(page, codes);
}

std::int32_t CWebMarket::GetDivide(const std::string& code,
                                   std::vector<CDivideRecord>& splits) {
  return ArchiveFirst(
      useArchive_, [&] { return archive_->GetDivide(code, splits); },
      [&] { return stock_->GetDivide(code, splits); });
}

std::int32_t CWebMarket::GetPrice(std::uint32_t& from, std::uint32_t to,
                                  const std::string& code, CQuoteItems& records,
                                  bool& adjust) {
  return ArchiveFirst(
      useArchive_,
      [&] { return archive_->GetPrice(from, to, code, records, adjust); },
      [&] {
        const std::int32_t result = history_->GetPrice(from, to, code, records, adjust);
        AsWebRecords(records);
        return result;
      });
}

std::int32_t CWebMarket::GetPriceLast(std::int32_t& position,
                                      const std::vector<std::string>& codes,
                                      CQuoteItems& records) {
  return ArchiveFirst(
      useArchive_,
      [&] { return archive_->GetPriceLast(position, codes, records); },
      [&] {
        const std::int32_t result = history_->GetPriceLast(position, codes, records);
        AsWebRecords(records);
        return result;
      });
}

std::int32_t CWebMarket::GetMargin(std::uint32_t& from, std::uint32_t to,
                                   const std::string& code,
                                   std::vector<CMarginRecord>& records) {
  return ArchiveFirst(
      useArchive_, [&] { return archive_->GetMargin(from, to, code, records); },
      [&] { return stock_->GetMargin(from, to, code, records); });
}

std::string CWebMarket::GetMessage(std::int32_t result) const {
  if (result >= 0) return "成功";
  if (result == CHttpClient::kErrorCancelled ||
      (result <= CHttpClient::kErrorTooLarge && result >= CHttpClient::kErrorTooSlow)) {
    return CHttpClient::GetMessage(result);
  }
  if (result == CWebArchive::kErrorLocal) {
    return CWebArchive::GetArchiveMessage(result) + "\n" + archive_->LastLocalError();
  }
  if (result >= kArchiveCodesFirst && result <= kArchiveCodesLast) {
    return CWebArchive::GetArchiveMessage(result);
  }
  return GetWebMessage(result);
}

void CWebMarket::PostUsageLog(const std::string& event) { ::PostUsageLog(event); }
