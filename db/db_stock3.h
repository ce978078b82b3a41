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
  bool CreateTables();  // stops at the first table that cannot be created
  bool RegisterPrivateBrands();
  bool DeleteAllBrands();
  bool DeleteAllDivides();
  bool DeleteAllMargins();
  bool DeleteAllCharts();

  // Issues (銘柄).
  bool InsertBrand(const CBrandRecord& brand);  // lendable stored as 0 or 1
  bool UpdateBrand(const CBrandRecord& brand);
  bool WriteBrand(const CBrandRecord& brand);
  bool DeleteBrand(const std::string& code);
  // True when the code was found; `brand` then holds its row.
  bool GetBrand(const std::string& code, CBrandRecord& brand);
  bool GetAllBrands(std::vector<CBrandRecord>& brands);
  bool GetCodesFrom(std::vector<std::string>& codes, const std::string& first);
  bool GetStockCodes(std::vector<std::string>& codes);
  bool GetCurrencyCodes(std::vector<std::string>& codes);
  bool GetPrivateCodes(std::vector<std::string>& codes);
  std::string GetName(const std::string& code);      // empty when absent
  std::string GetMarket(const std::string& code);    // empty when absent
  std::string GetIndustry(const std::string& code);  // empty when absent
  std::int32_t GetUnit(const std::string& code);     // -1 when absent
  // Distinct industries, greatest text first, "業種なし" last.
  bool GetIndustries(std::vector<std::string>& industries);
  // Distinct markets in market order (Tokyo first).
  bool GetMarkets(std::vector<std::string>& markets);

  // Splits (分割).
  bool WriteDivide(const std::string& code, const CDivideRecord& divide);
  bool DeleteDivides(const std::string& code);
  // The splits of one issue in date order; each pair carries `code`.
  bool GetDivides(const std::string& code, std::vector<CodeDivide>& divides);
  bool GetAllDivides(std::vector<CodeDivide>& divides);

  // Margin balances (信用残).
  bool WriteMargin(const std::string& code, const CMarginRecord& margin);
  bool DeleteMargins(const std::string& code);
  bool DeleteMarginRange(const CDate& first, const CDate& last);
  bool GetMargins(const std::string& code, std::vector<CMarginRecord>& margins);
  bool GetMarginRange(const std::string& code, const CDate& first,
                      const CDate& last, std::vector<CMarginRecord>& margins);

  // Daily bars (時系列, bar interval 0).
  bool InsertChart(const std::string& code, const CDayRecord& bar);
  bool UpdateChart(const std::string& code, const CDayRecord& bar);
  bool WriteChart(const std::string& code, const CDayRecord& bar);
  bool DeleteCharts(const std::string& code);
  bool DeleteChartRange(const CDate& first, const CDate& last);
  bool DeleteChartDay(const CDate& date);
  // `exists` tells whether the issue has a bar on the date.
  bool HasChart(const std::string& code, const CDate& date, bool& exists);
  bool GetCharts(const std::string& code, std::vector<CDayRecord>& bars);
  bool GetChartRange(const std::string& code, const CDate& first,
                     const CDate& last, std::vector<CDayRecord>& bars);
  // Every issue's bar of one day; each bar carries `date`.
  bool GetChartsOfDay(const CDate& date, std::vector<CodeBar>& bars);
  // True when the issue has a bar; `bar` then holds its latest.
  bool GetLastChart(const std::string& code, CDayRecord& bar);
  double GetLastClose(const std::string& code);        // 0.0 when absent
  std::uint32_t GetLastDate(const std::string& code);  // 0 when absent
  std::uint32_t GetReferenceLastDate();                // 0 when absent
  std::uint32_t GetLastDateAll();                      // 0 when absent

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
  bool CodeFits(const std::string& code);

  bool Run(const std::string& sql) { return Execute(sql.c_str()); }
  // Runs a query and fetches `columns` columns of every row.
  bool Query(const std::string& sql, std::int32_t columns, Rows& rows);
  bool QueryCodes(const std::string& sql, std::vector<std::string>& codes);
  // The first cell of the first row of a query; false when the query
  // failed or gave no row.
  bool QueryCell(const std::string& sql, CDBVar& cell);
  // One column of the issue row of `code`.
  bool QueryBrandColumn(const char* column, const std::string& code,
                        CDBVar& cell);
  bool QueryBars(const std::string& sql, std::vector<CDayRecord>& bars);
  bool QueryMargins(const std::string& sql,
                    std::vector<CMarginRecord>& margins);
  bool QueryDivides(const std::string& sql, const std::string* code,
                    std::vector<CodeDivide>& divides);
  std::string InsertBrandSql(const CBrandRecord& brand,
                             std::uint32_t lendable) const;
};

#endif  // TICKORA_DB_DB_STOCK3_H_
