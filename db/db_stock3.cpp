#include "db/db_stock3.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "db/brand_map.h"
#include "db/private_brand.h"
#include "support/c_locale.h"

namespace {

const char* const kCreateTables[] = {
    "CREATE TABLE 銘柄(  銘柄コード CHAR(20),  種別 INTEGER,  市場 CHAR(20),  "
    "名称 VARCHAR(64),  売買単位 INTEGER,  業種 CHAR(20),  貸借 INTEGER,  "
    "発行済株式数 DOUBLE,  配当 REAL,  EPS REAL,  BPS REAL,  "
    "PRIMARY KEY(銘柄コード))",
    "CREATE TABLE 時系列(  銘柄コード CHAR(20),  足区分 INTEGER,  日時 DATETIME,  "
    "始値 REAL,  高値 REAL,  安値 REAL,  終値 REAL,  出来高 DOUBLE,  "
    "PRIMARY KEY(銘柄コード,足区分,日時))",
    "CREATE TABLE 信用残(  銘柄コード CHAR(20),  日付 INTEGER,  買残 DOUBLE,  "
    "売残 DOUBLE,  PRIMARY KEY(銘柄コード,日付))",
    "CREATE TABLE 分割(  銘柄コード CHAR(20),  日付 INTEGER,  分割比 REAL,  "
    "PRIMARY KEY(銘柄コード,日付))",
};

const char kInsertBrand[] =
    "INSERT INTO 銘柄 VALUES ('%s', %d, '%s', '%s', %u, '%s', %u, %.0f, %f, "
    "%f, %f)";
const char kSelectBrand[] =
    "SELECT 銘柄コード,市場,名称,売買単位,業種,貸借,種別,発行済株式数,配当,EPS,"
    "BPS FROM 銘柄";
const char kSelectBars[] = "SELECT 日時,始値,高値,安値,終値,出来高 FROM 時系列";

// Reads a row of kSelectBrand.
CBrandRecord BrandFromRow(const std::vector<CDBVar>& row) {
  CBrandRecord brand;
  brand.code = row[0].ToString();
  brand.market = row[1].ToString();
  brand.name = row[2].ToString();
  brand.unit = static_cast<std::uint32_t>(row[3].ToInt());
  brand.industry = row[4].ToString();
  brand.lendable = static_cast<std::uint32_t>(row[5].ToInt());
  brand.kind = row[6].ToInt();
  brand.sharesOutstanding = row[7].ToDouble();
  brand.dividend = row[8].ToDouble();
  brand.eps = row[9].ToDouble();
  brand.bps = row[10].ToDouble();
  return brand;
}

// Reads open, high, low, close and volume from cells first..first+4.
void PricesFromRow(const std::vector<CDBVar>& row, std::size_t first,
                   CDayRecord& bar) {
  bar.open = row[first].ToDouble();
  bar.high = row[first + 1].ToDouble();
  bar.low = row[first + 2].ToDouble();
  bar.close = row[first + 3].ToDouble();
  bar.volume = row[first + 4].ToDouble();
}

}  // namespace

CDBStock3& CDBStock3::Instance() {
  static CDBStock3 instance;
  return instance;
}

std::string CDBStock3::Sql(const char* format, ...) {
  // Numbers go into statements with a decimal point, whatever the locale.
  const CCLocaleScope c_locale;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return text;
}

std::string CDBStock3::Quote(const std::string& text) {
  // A CP932 trail byte is never 0x27, so every apostrophe byte is a real
  // apostrophe.
  std::string quoted;
  quoted.reserve(text.size() + 2);
  for (char c : text) {
    quoted.push_back(c);
    if (c == '\'') quoted.push_back('\'');
  }
  return quoted;
}

std::string CDBStock3::DateText(const CDate& date) { return date.Format(0); }

bool CDBStock3::CodeFits(const std::string& code) {
  if (code.size() <= kMaxCodeBytes) return true;
  RecordFailure("22001", SQLITE_TOOBIG,
                "an issue code is longer than " + std::to_string(kMaxCodeBytes) +
                    " bytes");
  return false;
}

bool CDBStock3::Query(const std::string& sql, std::int32_t columns,
                      Rows& rows) {
  return Run(sql) && Fetch(columns, rows);
}

bool CDBStock3::QueryCodes(const std::string& sql,
                           std::vector<std::string>& codes) {
  Rows rows;
  if (!Query(sql, 1, rows)) return false;
  codes.clear();
  codes.reserve(rows.size());
  for (const auto& row : rows) codes.push_back(row[0].ToString());
  return true;
}

bool CDBStock3::QueryCell(const std::string& sql, CDBVar& cell) {
  Rows rows;
  if (!Query(sql, 1, rows) || rows.empty()) return false;
  cell = rows[0][0];
  return true;
}

bool CDBStock3::QueryBars(const std::string& sql,
                          std::vector<CDayRecord>& bars) {
  Rows rows;
  if (!Query(sql, 6, rows)) return false;
  bars.clear();
  bars.reserve(rows.size());
  for (const auto& row : rows) {
    CDayRecord bar;
    bar.SetDateNumber(static_cast<std::uint32_t>(row[0].ToDate()));
    PricesFromRow(row, 1, bar);
    bars.push_back(bar);
  }
  return true;
}

bool CDBStock3::QueryMargins(const std::string& sql,
                             std::vector<CMarginRecord>& margins) {
  Rows rows;
  if (!Query(sql, 3, rows)) return false;
  margins.clear();
  margins.reserve(rows.size());
  for (const auto& row : rows) {
    CMarginRecord margin;
    // A number that is no date leaves the empty date, which no caller
    // takes for a week.
    (void)margin.date.FromNumber(static_cast<std::uint32_t>(row[0].ToInt()));
    margin.buy = row[1].ToDouble();
    margin.sell = row[2].ToDouble();
    margins.push_back(margin);
  }
  return true;
}

bool CDBStock3::QueryDivides(const std::string& sql, const std::string* code,
                             std::vector<CodeDivide>& divides) {
  // Without a fixed code the first column is the code.
  const std::int32_t columns = code ? 2 : 3;
  Rows rows;
  if (!Query(sql, columns, rows)) return false;
  divides.clear();
  divides.reserve(rows.size());
  for (const auto& row : rows) {
    std::size_t c = code ? 0 : 1;
    CodeDivide entry;
    entry.first = code ? *code : row[0].ToString();
    // As for margins: a number that is no date leaves the empty date.
    (void)entry.second.date.FromNumber(static_cast<std::uint32_t>(row[c].ToInt()));
    entry.second.ratio = row[c + 1].ToDouble();
    divides.push_back(entry);
  }
  return true;
}

// ---- Schema and bulk operations -------------------------------------------

bool CDBStock3::CreateTables() {
  for (const char* sql : kCreateTables) {
    if (!Execute(sql)) return false;
  }
  return true;
}

bool CDBStock3::RegisterPrivateBrands() {
  CPrivateBrand::Map entries;
  CPrivateBrand::Instance().CopyTo(entries);
  for (const auto& [code, entry] : entries) {
    CBrandRecord brand;
    brand.code = std::to_string(code);
    brand.kind = entry.kind;
    brand.name = entry.name;
    brand.unit = 1;
    if (!InsertBrand(brand)) return false;
  }
  return true;
}

bool CDBStock3::DeleteAllBrands() { return Run("DELETE FROM 銘柄"); }
bool CDBStock3::DeleteAllDivides() { return Run("DELETE FROM 分割"); }
bool CDBStock3::DeleteAllMargins() { return Run("DELETE FROM 信用残"); }
bool CDBStock3::DeleteAllCharts() { return Run("DELETE FROM 時系列"); }

// ---- Issues ---------------------------------------------------------------

std::string CDBStock3::InsertBrandSql(const CBrandRecord& b,
                                      std::uint32_t lendable) const {
  return Sql(kInsertBrand, Quote(b.code).c_str(), b.kind,
             Quote(b.market).c_str(), Quote(b.name).c_str(), b.unit,
             Quote(b.industry).c_str(), lendable, b.sharesOutstanding,
             b.dividend, b.eps, b.bps);
}

bool CDBStock3::InsertBrand(const CBrandRecord& brand) {
  if (!CodeFits(brand.code)) return false;
  return Run(InsertBrandSql(brand, brand.lendable != 0 ? 1u : 0u));
}

bool CDBStock3::UpdateBrand(const CBrandRecord& b) {
  if (!CodeFits(b.code)) return false;
  return Run(Sql(
      "UPDATE 銘柄 SET 種別=%d,市場='%s',名称='%s',売買単位=%u,業種='%s',"
      "貸借=%u,発行済株式数=%.0f,配当=%f,EPS=%f,BPS=%f WHERE 銘柄コード='%s'",
      b.kind, Quote(b.market).c_str(), Quote(b.name).c_str(), b.unit,
      Quote(b.industry).c_str(), b.lendable, b.sharesOutstanding, b.dividend,
      b.eps, b.bps, Quote(b.code).c_str()));
}

bool CDBStock3::WriteBrand(const CBrandRecord& brand) {
  // Unlike InsertBrand, the margin status goes in unchanged. A number that
  // is not finite would be written into the statement as "nan" or "inf":
  // such a record is refused (the stages store 0 in its place before).
  if (!CodeFits(brand.code)) return false;
  for (const double value : {brand.sharesOutstanding, brand.dividend, brand.eps, brand.bps}) {
    if (!std::isfinite(value)) return false;
  }
  if (Run(InsertBrandSql(brand, brand.lendable))) return true;
  return UpdateBrand(brand);
}

bool CDBStock3::DeleteBrand(const std::string& code) {
  return Run(Sql("DELETE FROM 銘柄 WHERE 銘柄コード='%s'", Quote(code).c_str()));
}

bool CDBStock3::GetBrand(const std::string& code, CBrandRecord& brand) {
  Rows rows;
  if (!Query(Sql("%s WHERE 銘柄コード='%s'", kSelectBrand, Quote(code).c_str()),
             11, rows) ||
      rows.empty()) {
    return false;
  }
  brand = BrandFromRow(rows[0]);
  return true;
}

bool CDBStock3::GetAllBrands(std::vector<CBrandRecord>& brands) {
  Rows rows;
  if (!Query(Sql("%s ORDER BY 銘柄コード", kSelectBrand), 11, rows)) return false;
  brands.clear();
  brands.reserve(rows.size());
  for (const auto& row : rows) brands.push_back(BrandFromRow(row));
  return true;
}

bool CDBStock3::GetCodesFrom(std::vector<std::string>& codes,
                             const std::string& first) {
  return QueryCodes(
      Sql("SELECT 銘柄コード FROM 銘柄 WHERE 銘柄コード>='%s' ORDER BY 銘柄コード",
          Quote(first).c_str()),
      codes);
}

bool CDBStock3::GetStockCodes(std::vector<std::string>& codes) {
  return GetCodesFrom(codes, "1300");
}

bool CDBStock3::GetCurrencyCodes(std::vector<std::string>& codes) {
  return QueryCodes(
      "SELECT 銘柄コード FROM 銘柄 WHERE 銘柄コード>='1100' AND 銘柄コード<'1200' "
      "ORDER BY 銘柄コード",
      codes);
}

bool CDBStock3::GetPrivateCodes(std::vector<std::string>& codes) {
  return QueryCodes(
      "SELECT 銘柄コード FROM 銘柄 WHERE 銘柄コード>='1000' AND 銘柄コード<'1200' "
      "ORDER BY 銘柄コード",
      codes);
}

bool CDBStock3::QueryBrandColumn(const char* column, const std::string& code,
                                 CDBVar& cell) {
  return QueryCell(Sql("SELECT %s FROM 銘柄 WHERE 銘柄コード='%s'", column,
                       Quote(code).c_str()),
                   cell);
}

std::string CDBStock3::GetName(const std::string& code) {
  CDBVar cell;
  return QueryBrandColumn("名称", code, cell) ? cell.ToString() : std::string();
}

std::string CDBStock3::GetMarket(const std::string& code) {
  CDBVar cell;
  return QueryBrandColumn("市場", code, cell) ? cell.ToString() : std::string();
}

std::string CDBStock3::GetIndustry(const std::string& code) {
  CDBVar cell;
  return QueryBrandColumn("業種", code, cell) ? cell.ToString() : std::string();
}

std::int32_t CDBStock3::GetUnit(const std::string& code) {
  CDBVar cell;
  return QueryBrandColumn("売買単位", code, cell) ? cell.ToInt() : -1;
}

bool CDBStock3::GetIndustries(std::vector<std::string>& industries) {
  if (!QueryCodes("SELECT 業種 FROM 銘柄 GROUP BY 業種 ORDER BY 業種",
                  industries)) {
    return false;
  }
  CBrandMap::SortIndustries(industries);
  return true;
}

bool CDBStock3::GetMarkets(std::vector<std::string>& markets) {
  if (!QueryCodes("SELECT 市場 FROM 銘柄 GROUP BY 市場 ORDER BY 市場", markets)) {
    return false;
  }
  CBrandMap::SortMarkets(markets);
  return true;
}

// ---- Splits ---------------------------------------------------------------

bool CDBStock3::WriteDivide(const std::string& code, const CDivideRecord& d) {
  // As in WriteBrand: no statement holds a ratio that is not finite.
  if (!CodeFits(code) || !std::isfinite(d.ratio)) return false;
  const std::string quoted = Quote(code);
  const int date = static_cast<int>(d.date.ToNumber());
  if (Run(Sql("INSERT INTO 分割 VALUES ('%s', %d, %f)", quoted.c_str(), date,
              d.ratio))) {
    return true;
  }
  return Run(Sql("UPDATE 分割 SET 分割比=%f WHERE 銘柄コード='%s' AND 日付=%d",
                 d.ratio, quoted.c_str(), date));
}

bool CDBStock3::DeleteDivides(const std::string& code) {
  return Run(Sql("DELETE FROM 分割 WHERE 銘柄コード='%s'", Quote(code).c_str()));
}

bool CDBStock3::GetDivides(const std::string& code,
                           std::vector<CodeDivide>& divides) {
  return QueryDivides(
      Sql("SELECT 日付,分割比 FROM 分割 WHERE 銘柄コード='%s' ORDER BY 日付",
          Quote(code).c_str()),
      &code, divides);
}

bool CDBStock3::GetAllDivides(std::vector<CodeDivide>& divides) {
  return QueryDivides("SELECT 銘柄コード,日付,分割比 FROM 分割 ORDER BY 日付",
                      nullptr, divides);
}

// ---- Margin balances ------------------------------------------------------

bool CDBStock3::WriteMargin(const std::string& code, const CMarginRecord& m) {
  if (!CodeFits(code)) return false;
  const std::string quoted = Quote(code);
  const int date = static_cast<int>(m.date.ToNumber());
  if (Run(Sql("INSERT INTO 信用残 VALUES ('%s', %d, %f, %f)", quoted.c_str(),
              date, m.buy, m.sell))) {
    return true;
  }
  return Run(Sql("UPDATE 信用残 SET 買残=%f,売残=%f WHERE 銘柄コード='%s' AND 日付=%d",
                 m.buy, m.sell, quoted.c_str(), date));
}

bool CDBStock3::DeleteMargins(const std::string& code) {
  return Run(Sql("DELETE FROM 信用残 WHERE 銘柄コード='%s'", Quote(code).c_str()));
}

bool CDBStock3::DeleteMarginRange(const CDate& first, const CDate& last) {
  return Run(Sql("DELETE FROM 信用残 WHERE 日付>=%d AND 日付<=%d",
                 static_cast<int>(first.ToNumber()),
                 static_cast<int>(last.ToNumber())));
}

bool CDBStock3::GetMargins(const std::string& code,
                           std::vector<CMarginRecord>& margins) {
  return QueryMargins(
      Sql("SELECT 日付,買残,売残 FROM 信用残 WHERE 銘柄コード='%s' ORDER BY 日付",
          Quote(code).c_str()),
      margins);
}

bool CDBStock3::GetMarginRange(const std::string& code, const CDate& first,
                               const CDate& last,
                               std::vector<CMarginRecord>& margins) {
  return QueryMargins(
      Sql("SELECT 日付,買残,売残 FROM 信用残 WHERE 銘柄コード='%s' AND 日付>=%d "
          "AND 日付<=%d ORDER BY 日付",
          Quote(code).c_str(), static_cast<int>(first.ToNumber()),
          static_cast<int>(last.ToNumber())),
      margins);
}

// ---- Daily bars -----------------------------------------------------------

bool CDBStock3::InsertChart(const std::string& code, const CDayRecord& bar) {
  if (!CodeFits(code)) return false;
  return Run(Sql("INSERT INTO 時系列 VALUES ('%s', 0, '%s', %f, %f, %f, %f, %f)",
                 Quote(code).c_str(), DateText(bar.Date()).c_str(), bar.open,
                 bar.high, bar.low, bar.close, bar.volume));
}

bool CDBStock3::UpdateChart(const std::string& code, const CDayRecord& bar) {
  if (!CodeFits(code)) return false;
  return Run(Sql("UPDATE 時系列 SET 始値=%f,高値=%f,安値=%f,終値=%f,出来高=%f "
                 "WHERE 銘柄コード='%s' AND 日時='%s'",
                 bar.open, bar.high, bar.low, bar.close, bar.volume,
                 Quote(code).c_str(), DateText(bar.Date()).c_str()));
}

bool CDBStock3::WriteChart(const std::string& code, const CDayRecord& bar) {
  if (InsertChart(code, bar)) return true;
  return UpdateChart(code, bar);
}

bool CDBStock3::DeleteCharts(const std::string& code) {
  return Run(Sql("DELETE FROM 時系列 WHERE 銘柄コード='%s'", Quote(code).c_str()));
}

bool CDBStock3::DeleteChartRange(const CDate& first, const CDate& last) {
  return Run(Sql("DELETE FROM 時系列 WHERE 日時>='%s' AND 日時<='%s'",
                 DateText(first).c_str(), DateText(last).c_str()));
}

bool CDBStock3::DeleteChartDay(const CDate& date) {
  return Run(Sql("DELETE FROM 時系列 WHERE 日時='%s'", DateText(date).c_str()));
}

bool CDBStock3::HasChart(const std::string& code, const CDate& date,
                         bool& exists) {
  Rows rows;
  if (!Query(Sql("SELECT 銘柄コード FROM 時系列 WHERE 日時='%s' AND 銘柄コード='%s'",
                 DateText(date).c_str(), Quote(code).c_str()),
             1, rows)) {
    return false;
  }
  exists = !rows.empty();
  return true;
}

bool CDBStock3::GetCharts(const std::string& code,
                          std::vector<CDayRecord>& bars) {
  return QueryBars(Sql("%s WHERE 銘柄コード='%s' ORDER BY 日時", kSelectBars,
                       Quote(code).c_str()),
                   bars);
}

bool CDBStock3::GetChartRange(const std::string& code, const CDate& first,
                              const CDate& last,
                              std::vector<CDayRecord>& bars) {
  return QueryBars(
      Sql("%s WHERE 銘柄コード='%s' AND 日時>='%s' AND 日時<='%s' ORDER BY 日時",
          kSelectBars, Quote(code).c_str(), DateText(first).c_str(),
          DateText(last).c_str()),
      bars);
}

bool CDBStock3::GetChartsOfDay(const CDate& date, std::vector<CodeBar>& bars) {
  Rows rows;
  if (!Query(Sql("SELECT 銘柄コード,始値,高値,安値,終値,出来高 FROM 時系列 WHERE "
                 "日時='%s'",
                 DateText(date).c_str()),
             6, rows)) {
    return false;
  }
  bars.clear();
  bars.reserve(rows.size());
  for (const auto& row : rows) {
    CodeBar entry;
    entry.first = row[0].ToString();
    entry.second.SetDate(date);
    PricesFromRow(row, 1, entry.second);
    bars.push_back(entry);
  }
  return true;
}

bool CDBStock3::GetLastChart(const std::string& code, CDayRecord& bar) {
  const std::string quoted = Quote(code);
  std::vector<CDayRecord> bars;
  if (!QueryBars(Sql("%s WHERE 銘柄コード='%s' AND 日時=(SELECT MAX(日時) FROM "
                     "時系列 WHERE 銘柄コード='%s')",
                     kSelectBars, quoted.c_str(), quoted.c_str()),
                 bars) ||
      bars.empty()) {
    return false;
  }
  bar = bars[0];
  return true;
}

double CDBStock3::GetLastClose(const std::string& code) {
  const std::string quoted = Quote(code);
  CDBVar cell;
  if (!QueryCell(Sql("SELECT 終値 FROM 時系列 WHERE 銘柄コード='%s' AND 日時=("
                     "SELECT MAX(日時) FROM 時系列 WHERE 銘柄コード='%s')",
                     quoted.c_str(), quoted.c_str()),
                 cell)) {
    return 0.0;
  }
  return cell.ToDouble();
}

std::uint32_t CDBStock3::GetLastDate(const std::string& code) {
  CDBVar cell;
  if (!QueryCell(Sql("SELECT MAX(日時) FROM 時系列 WHERE 銘柄コード='%s'",
                     Quote(code).c_str()),
                 cell)) {
    return 0;
  }
  return static_cast<std::uint32_t>(cell.ToDate());
}

std::uint32_t CDBStock3::GetReferenceLastDate() {
  CDBVar cell;
  if (!QueryCell(Sql("SELECT MAX(日時) FROM 時系列 WHERE 銘柄コード='%d'",
                     kReferenceCode),
                 cell)) {
    return 0;
  }
  return static_cast<std::uint32_t>(cell.ToDate());
}

std::uint32_t CDBStock3::GetLastDateAll() {
  CDBVar cell;
  if (!QueryCell("SELECT MAX(日時) FROM 時系列", cell)) return 0;
  return static_cast<std::uint32_t>(cell.ToDate());
}
