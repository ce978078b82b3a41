#ifndef TICKORA_DB_DB_STOCK3_H_
#define TICKORA_DB_DB_STOCK3_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "db/brand_record.h"
#include "db/db_control.h"
#include "db/divide_record.h"
#include "series/day_record.h"
#include "series/margin_record.h"
#include "support/date.h"

// CDBStock3 is the stock database "stock.mdb": the schema of its four tables
// (銘柄 issues, 時系列 price bars, 信用残 margin balances, 分割 splits) and one
// operation for every statement the system runs against them. It is a
// CDBControl: open it with Open (or Connect) before use; on a closed object
// every operation returns its failure value.
//
// Writes are insert-or-update: the INSERT first, and on any failure the
// UPDATE keyed by the table's primary key. A failed write leaves GetError
// describing the UPDATE's failure. Every write refuses a code longer than
// kMaxCodeBytes, the width of the code columns, before any statement runs
// (GetError state 22001): such a code may come from a damaged issue or
// split list file, and a shortened one would name another issue.
//
// Text values are placed in the statements between apostrophes, with every
// apostrophe inside them doubled, so that no text (an issue name read from a
// web page, say) can change a statement. Dates of the 時系列 table are
// written in the form "2024/3/5"; the 日付 columns take date numbers.
//
// Queries empty their out sequence and fill it on success; on failure they
// leave it as it was. One statement runs at a time; the object is used by
// one thread at a time.
class CDBStock3 : public CDBControl {
 public:
  using CodeDivide = std::pair<std::string, CDivideRecord>;
  using CodeBar = std::pair<std::string, CDayRecord>;

  // The issue whose last bar stands for the market's last trading day.
  static constexpr int kReferenceCode = 7203;

  CDBStock3() = default;
  ~CDBStock3() override = default;

  // The process-wide database, created closed on first use (safe against
  // concurrent first calls) and closed when the process ends.
  static CDBStock3& Instance();

  // Schema and bulk operations.
  [[nodiscard]] bool CreateTables();  // stops at the first table that cannot be created
  [[nodiscard]] bool RegisterPrivateBrands();
  [[nodiscard]] bool DeleteAllBrands();
  [[nodiscard]] bool DeleteAllDivides();
  [[nodiscard]] bool DeleteAllMargins();
  [[nodiscard]] bool DeleteAllCharts();

  // Issues (銘柄).
  [[nodiscard]] bool InsertBrand(const CBrandRecord& brand);  // lendable stored as 0 or 1
  [[nodiscard]] bool UpdateBrand(const CBrandRecord& brand);
  [[nodiscard]] bool WriteBrand(const CBrandRecord& brand);
  [[nodiscard]] bool DeleteBrand(const std::string& code);
  // True when the code was found; `brand` then holds its row.
  [[nodiscard]] bool GetBrand(const std::string& code, CBrandRecord& brand);
  [[nodiscard]] bool GetAllBrands(std::vector<CBrandRecord>& brands);
  [[nodiscard]] bool GetCodesFrom(std::vector<std::string>& codes, const std::string& first);
  [[nodiscard]] bool GetStockCodes(std::vector<std::string>& codes);
  [[nodiscard]] bool GetCurrencyCodes(std::vector<std::string>& codes);
  [[nodiscard]] bool GetPrivateCodes(std::vector<std::string>& codes);
  std::string GetName(const std::string& code);      // empty when absent
  std::string GetMarket(const std::string& code);    // empty when absent
  std::string GetIndustry(const std::string& code);  // empty when absent
  [[nodiscard]] std::int32_t GetUnit(const std::string& code);     // -1 when absent
  // Distinct industries, greatest text first, "業種なし" last.
  [[nodiscard]] bool GetIndustries(std::vector<std::string>& industries);
  // Distinct markets in market order (Tokyo first).
  [[nodiscard]] bool GetMarkets(std::vector<std::string>& markets);

  // Splits (分割).
  [[nodiscard]] bool WriteDivide(const std::string& code, const CDivideRecord& divide);
  [[nodiscard]] bool DeleteDivides(const std::string& code);
  // The splits of one issue in date order; each pair carries `code`.
  [[nodiscard]] bool GetDivides(const std::string& code, std::vector<CodeDivide>& divides);
  [[nodiscard]] bool GetAllDivides(std::vector<CodeDivide>& divides);

  // Margin balances (信用残).
  [[nodiscard]] bool WriteMargin(const std::string& code, const CMarginRecord& margin);
  [[nodiscard]] bool DeleteMargins(const std::string& code);
  [[nodiscard]] bool DeleteMarginRange(const CDate& first, const CDate& last);
  [[nodiscard]] bool GetMargins(const std::string& code, std::vector<CMarginRecord>& margins);
  [[nodiscard]] bool GetMarginRange(const std::string& code, const CDate& first,
                      const CDate& last, std::vector<CMarginRecord>& margins);

  // Daily bars (時系列, bar interval 0).
  [[nodiscard]] bool InsertChart(const std::string& code, const CDayRecord& bar);
  [[nodiscard]] bool UpdateChart(const std::string& code, const CDayRecord& bar);
  [[nodiscard]] bool WriteChart(const std::string& code, const CDayRecord& bar);
  [[nodiscard]] bool DeleteCharts(const std::string& code);
  [[nodiscard]] bool DeleteChartRange(const CDate& first, const CDate& last);
  [[nodiscard]] bool DeleteChartDay(const CDate& date);
  // `exists` tells whether the issue has a bar on the date.
  [[nodiscard]] bool HasChart(const std::string& code, const CDate& date, bool& exists);
  [[nodiscard]] bool GetCharts(const std::string& code, std::vector<CDayRecord>& bars);
  [[nodiscard]] bool GetChartRange(const std::string& code, const CDate& first,
                     const CDate& last, std::vector<CDayRecord>& bars);
  // Every issue's bar of one day; each bar carries `date`.
  [[nodiscard]] bool GetChartsOfDay(const CDate& date, std::vector<CodeBar>& bars);
  // True when the issue has a bar; `bar` then holds its latest.
  [[nodiscard]] bool GetLastChart(const std::string& code, CDayRecord& bar);
  double GetLastClose(const std::string& code);        // 0.0 when absent
  [[nodiscard]] std::uint32_t GetLastDate(const std::string& code);  // 0 when absent
  [[nodiscard]] std::uint32_t GetReferenceLastDate();                // 0 when absent
  [[nodiscard]] std::uint32_t GetLastDateAll();                      // 0 when absent

 private:
  using Rows = std::vector<std::vector<CDBVar>>;

  // Formats a statement from a template in the "C" locale; no length limit.
  static std::string Sql(const char* format, ...)
      __attribute__((format(printf, 1, 2)));
  // The text with every apostrophe doubled, ready to stand between
  // apostrophes in a statement.
  static std::string Quote(const std::string& text);
  // A date as the 日時 column takes it: "2024/3/5".
  static std::string DateText(const CDate& date);
  // True when the code fits the code columns (kMaxCodeBytes); otherwise
  // records the failure for GetError (state 22001) and answers false.
  [[nodiscard]] bool CodeFits(const std::string& code);

  [[nodiscard]] bool Run(const std::string& sql) { return Execute(sql.c_str()); }
  // Runs a query and fetches `columns` columns of every row.
  [[nodiscard]] bool Query(const std::string& sql, std::int32_t columns, Rows& rows);
  [[nodiscard]] bool QueryCodes(const std::string& sql, std::vector<std::string>& codes);
  // The first cell of the first row of a query; false when the query
  // failed or gave no row.
  [[nodiscard]] bool QueryCell(const std::string& sql, CDBVar& cell);
  // One column of the issue row of `code`.
  [[nodiscard]] bool QueryBrandColumn(const char* column, const std::string& code,
                        CDBVar& cell);
  [[nodiscard]] bool QueryBars(const std::string& sql, std::vector<CDayRecord>& bars);
  [[nodiscard]] bool QueryMargins(const std::string& sql,
                    std::vector<CMarginRecord>& margins);
  [[nodiscard]] bool QueryDivides(const std::string& sql, const std::string* code,
                    std::vector<CodeDivide>& divides);
  std::string InsertBrandSql(const CBrandRecord& brand,
                             std::uint32_t lendable) const;
};

#endif  // TICKORA_DB_DB_STOCK3_H_
