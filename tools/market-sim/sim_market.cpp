#include "tools/market-sim/sim_market.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "db/private_brand.h"

namespace {

// ---- Random numbers --------------------------------------------------------

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t Mix(uint64_t a, uint64_t b) { return Mix(a ^ Mix(b)); }
uint64_t Mix(uint64_t a, uint64_t b, uint64_t c) { return Mix(Mix(a, b), c); }

// A small generator (splitmix64) with uniform and normal draws. The same
// seed gives the same draws on every machine: only integer arithmetic and
// the correctly rounded functions of <cmath> are used.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // In [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Uniform(double low, double high) { return low + (high - low) * Uniform(); }
  // In [0, n).
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
  bool Chance(double p) { return Uniform() < p; }
  double Normal() {
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    double u = Uniform();
    if (u < 1e-300) u = 1e-300;
    const double v = Uniform();
    const double r = std::sqrt(-2.0 * std::log(u));
    spare_ = r * std::sin(6.283185307179586 * v);
    hasSpare_ = true;
    return r * std::cos(6.283185307179586 * v);
  }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
  double spare_ = 0.0;
  bool hasSpare_ = false;
};

double F32(double x) { return static_cast<double>(static_cast<float>(x)); }

// The price step of the exchange for a price level.
double StockTick(double price) {
  if (price <= 3000) return 1;
  if (price <= 5000) return 5;
  if (price <= 30000) return 10;
  if (price <= 50000) return 50;
  if (price <= 300000) return 100;
  if (price <= 500000) return 500;
  if (price <= 3000000) return 1000;
  if (price <= 5000000) return 5000;
  return 10000;
}

// ---- Names -----------------------------------------------------------------

const char* const kIndustries[] = {
    "水産・農林業", "鉱業", "建設業", "食料品", "繊維製品", "パルプ・紙",
    "化学", "医薬品", "石油・石炭製品", "ゴム製品", "ガラス・土石製品",
    "鉄鋼", "非鉄金属", "金属製品", "機械", "電気機器", "輸送用機器",
    "精密機器", "その他製品", "電気・ガス業", "陸運業", "海運業", "空運業",
    "倉庫・運輸関連業", "情報・通信業", "卸売業", "小売業", "銀行業",
    "証券、商品先物取引業", "保険業", "その他金融業", "不動産業",
    "サービス業"};
constexpr size_t kIndustryCount = sizeof(kIndustries) / sizeof(kIndustries[0]);

// Suffixes of company names, one list per industry above.
const char* const kSuffixes[kIndustryCount][3] = {
    {"水産", "農産", "ファーム"},       {"鉱業", "資源", "石灰工業"},
    {"建設", "工務店", "組"},           {"食品", "製菓", "フーズ"},
    {"紡績", "繊維", "テキスタイル"},   {"製紙", "紙業", "パルプ"},
    {"化学", "化成", "ケミカル"},       {"製薬", "薬品", "ファーマ"},
    {"石油", "エネルギー", "燃料"},     {"ゴム", "ゴム工業", "ラバー"},
    {"窯業", "硝子", "セメント"},       {"製鋼", "鋼業", "製鉄"},
    {"金属", "精錬", "アルミ"},         {"金属工業", "製作所", "工機"},
    {"機械", "重工", "マシナリー"},     {"電機", "電子", "エレクトロニクス"},
    {"自動車", "工業", "モータース"},   {"精機", "光学", "計器"},
    {"産業", "工芸", "プロダクツ"},     {"電力", "ガス", "エナジー"},
    {"運輸", "鉄道", "急行"},           {"汽船", "海運", "ライン"},
    {"航空", "エアライン", "空輸"},     {"倉庫", "物流", "ロジスティクス"},
    {"システムズ", "ネット", "ソフト"}, {"商事", "物産", "トレーディング"},
    {"ストア", "商店", "百貨店"},       {"銀行", "信託", "バンク"},
    {"証券", "フィナンシャル", "キャピタル"}, {"保険", "生命", "損保"},
    {"リース", "クレジット", "ファイナンス"}, {"不動産", "地所", "エステート"},
    {"サービス", "ホールディングス", "コンサルティング"}};

const char* const kStems[] = {
    "東洋", "日本", "大和", "三光", "北陸", "中央", "新日", "丸善", "富士",
    "旭", "昭和", "平和", "関西", "九州", "山陽", "太平", "明治", "朝日",
    "協和", "第一", "住吉", "青葉", "桜", "若葉", "豊", "栄", "信和", "北斗",
    "南海", "東邦", "大同", "日東", "三和", "共栄", "千代田", "常磐", "瀬戸",
    "アルファ", "ネクスト", "サン", "テクノ", "グリーン", "ユニ", "メディア",
    "ライフ", "エコ", "クラウド", "データ", "スマート", "ブルー", "ミライ",
    "アクア", "ステラ", "ノヴァ"};
const char* const kMids[] = {"", "", "", "", "精密", "電子", "総合", "国際",
                             "中部", "産業", "技研", "興業", "光", "山"};
const char* const kEtfNames[] = {
    "上場インデックス日経225", "上場TOPIXファンド", "上場金価格連動",
    "上場米国株式S&P500", "上場JPX日経400", "上場高配当株式",
    "上場不動産指数", "上場新興国株式", "上場銀行業", "上場半導体株",
    "上場全世界株式", "上場国債ファンド"};
const char* const kReitStems[] = {"日本", "東京", "大和", "星野", "グローバル",
                                  "ジャパン", "森", "平和", "いちご", "産業"};
const char* const kReitKinds[] = {"リート投資法人", "ビルファンド投資法人",
                                  "ホテル投資法人", "物流投資法人",
                                  "レジデンシャル投資法人"};

const char* const kMarketPrime = "東証プライム";
const char* const kMarketStandard = "東証スタンダード";
const char* const kMarketGrowth = "東証グロース";
const char* const kRegionalMarkets[] = {"名証メイン", "札証", "福証"};
const char* const kRetiredMarkets[] = {"東証1部", "東証2部", "マザーズ", "東証JQS",
                                       "東証JQG", "JQS",    "名証2部"};
const char* const kMarketUnlisted = "非上場";
const char* const kFundMarket = "東証";
const char* const kNoIndustry = "業種なし";

// ---- Built-in issues ---------------------------------------------------------

struct BuiltInModel {
  int32_t code;
  double level;       // typical value
  double daySigma;    // daily log deviation
  double step;        // rounding step of the values
  double volume;      // typical daily volume; 0 for none
  bool weekdays;      // trades every Monday to Friday (else the Japanese calendar)
  int32_t follows;    // the code whose path it follows, or 0
};

// The indices, the Dow and the currency pairs have no volume: their pages
// show none, and the archive carries what the pages show. Only the future
// trades a volume.
const BuiltInModel kBuiltIns[] = {
    {1001, 18000, 0.013, 0.01, 0, false, 0},
    {1002, 1500, 0.012, 0.01, 0, false, 0},
    {1003, 80, 0.010, 0.01, 0, false, 0},
    {1004, 18000, 0.011, 0.01, 0, true, 0},
    {1051, 18000, 0.013, 10, 6e4, false, 1001},
    {1101, 110, 0.005, 0.001, 0, true, 0},
    {1102, 130, 0.006, 0.001, 0, true, 0},
    {1103, 160, 0.006, 0.001, 0, true, 0},
    {1104, 80, 0.007, 0.001, 0, true, 0},
    {1105, 70, 0.007, 0.001, 0, true, 0},
    {1106, 90, 0.006, 0.001, 0, true, 0},
    {1107, 9, 0.009, 0.001, 0, true, 0},
    {1108, 100, 0.005, 0.001, 0, true, 0},
    {1109, 14, 0.005, 0.001, 0, true, 0},
};

bool CodeLess(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  const int c = std::memcmp(a.data(), b.data(), n);
  return c != 0 ? c < 0 : a.size() < b.size();
}

}  // namespace

// ---- Hidden parameters of an issue -----------------------------------------

struct CSimMarket::IssueModel {
  uint64_t walkSeed = 0;  // the yearly anchors and the daily path
  uint64_t daySeed = 0;   // open, high, low, volume and days without trade
  bool weekdays = false;  // Monday-to-Friday calendar instead of the exchange's
  bool stockTicks = true; // exchange price steps, else `step`
  double step = 1;
  double level = 1000;    // centre of the adjusted price
  double yearSigma = 0.3;
  double daySigma = 0.02;
  double volume = 1e5;    // typical raw daily volume; 0 for none
  uint32_t volumeUnit = 100;
  double noTradeRate = 0.0;
  double marginLevel = 0;  // typical buy balance in today's shares; 0: none
  CDate first;            // first and last day with bars
  CDate last;
  CDivide splits;
};

// One calendar year of one issue, before it goes into a series.
struct CSimMarket::YearPart {
  std::vector<CDayRecord> raw;
  std::vector<CDayRecord> adjusted;
  std::vector<CMarginRecord> margin;
  std::vector<CMarginRecord> adjustedMargin;
};

std::string CSimIssue::ShownName() const {
  static const std::string kMark = "(株)";
  switch (companyMark) {
    case CompanyMark::kBefore:
      return kMark + record.name;
    case CompanyMark::kAfter:
      return record.name + kMark;
    default:
      return record.name;
  }
}

bool CSimIssue::IsListedOn(const CDate& date) const {
  return !(date < listed) && (delisted.year == 0 || !(delisted < date));
}

CSimMarket::CSimMarket(const CSimMarketOptions& options) : options_(options) {
  today_ = options_.today.year != 0 ? options_.today : CDate::Today();
  if (options_.firstYear < 1990) options_.firstYear = 1990;
  if (options_.firstYear > today_.year) options_.firstYear = today_.year;
  if (options_.issueCount < 0) options_.issueCount = 0;
  if (options_.cacheIssues < 1) options_.cacheIssues = 1;
  firstDate_ = CDate(options_.firstYear, 1, 1);
  if (!firstDate_.IsBusinessDay()) firstDate_.NextBusinessDay();
  lastDate_ = today_;
  if (!lastDate_.IsBusinessDay()) lastDate_.PrevBusinessDay();
  if (lastDate_ < firstDate_) lastDate_ = firstDate_;
  horizonDate_ = options_.horizon;
  if (horizonDate_.year != 0 && !horizonDate_.IsBusinessDay()) horizonDate_.PrevBusinessDay();
  if (horizonDate_ < lastDate_) horizonDate_ = lastDate_;
  BuildCalendar();
  BuildIssues();
}

CSimMarket::~CSimMarket() = default;

void CSimMarket::BuildCalendar() {
  const uint32_t years = today_.year - options_.firstYear + 1;
  japanDays_.assign(years, {});
  weekDays_.assign(years, {});
  weekEnds_.assign(years, {});
  for (uint32_t y = 0; y < years; ++y) {
    const uint32_t year = options_.firstYear + y;
    for (CDate d(year, 1, 1); d.year == year; d.NextDay()) {
      if (d.IsBusinessDay()) japanDays_[y].push_back(d.ToNumber());
      const bool closed = (d.month == 1 && d.day == 1) || (d.month == 12 && d.day == 25);
      if (!d.IsWeekend() && !closed) weekDays_[y].push_back(d.ToNumber());
    }
    // The last trading day of each week (Monday to Sunday).
    for (uint32_t number : japanDays_[y]) {
      CDate d;
      (void)d.FromNumber(number);  // a day of the calendar
      CDate next = d;
      next.NextBusinessDay();
      const int w = d.Weekday();
      const int32_t toSunday = w == 0 ? 0 : 7 - w;
      if (next.DaysBetween(d) > toSunday) weekEnds_[y].push_back(number);
    }
  }
}

const std::vector<uint32_t>& CSimMarket::Days(bool weekdays, uint32_t year) const {
  static const std::vector<uint32_t> kNone;
  if (year < options_.firstYear || year > today_.year) return kNone;
  return weekdays ? weekDays_[year - options_.firstYear]
                  : japanDays_[year - options_.firstYear];
}

// A trading day of the exchange picked between two dates (both included).
static CDate PickBusinessDay(Random& random, const CDate& from, const CDate& to) {
  const int32_t span = to.DaysBetween(from);
  CDate d = from.AddDays(static_cast<int32_t>(random.Below(span > 0 ? span + 1 : 1)));
  if (!d.IsBusinessDay()) d.NextBusinessDay();
  if (to < d) {
    d = to;
    if (!d.IsBusinessDay()) d.PrevBusinessDay();
  }
  return d;
}

void CSimMarket::BuildIssues() {
  Random random(Mix(options_.seed, 0x15505));
  const int32_t n = options_.issueCount;

  // Codes: a few of the newer form ("130A"), the rest four digits picked
  // in order from 1301-9999 (selection sampling: exactly as many as asked).
  int32_t letterCount = n >= 10 ? std::max(1, n / 100) : 0;
  letterCount = std::min(letterCount, 600);
  int32_t numericCount = std::min(n - letterCount, 9999 - 1301 + 1);
  std::vector<std::string> codes;
  codes.reserve(n);
  {
    int32_t needed = numericCount;
    for (int32_t c = 1301; c <= 9999 && needed > 0; ++c) {
      const int32_t left = 9999 - c + 1;
      if (random.Below(left) < static_cast<uint64_t>(needed)) {
        codes.push_back(std::to_string(c));
        --needed;
      }
    }
    for (int32_t k = 0; k < letterCount; ++k) {
      codes.push_back(std::to_string(130 + k) + "A");
    }
  }

  std::vector<std::pair<CSimIssue, IssueModel>> made;
  made.reserve(codes.size() + std::size(kBuiltIns));
  const CDate recent = horizonDate_.SubDays(365);
  for (const std::string& code : codes) {
    CSimIssue issue;
    IssueModel model;
    CBrandRecord& r = issue.record;
    r.code = code;
    Random own(Mix(options_.seed, 0xC0DE, std::hash<std::string>{}(code)));
    model.walkSeed = own.Next();
    model.daySeed = own.Next();
    const int32_t value = std::atoi(code.c_str());
    const bool letter = code.back() >= 'A';
    if (!letter && value >= 1305 && value <= 1699 && own.Chance(0.8)) {
      r.kind = kKindEtf;
    } else if (!letter && ((value >= 8950 && value <= 8990) ||
                           (value >= 3226 && value <= 3300)) &&
               own.Chance(0.7)) {
      r.kind = kKindReit;
    } else {
      r.kind = kKindStock;
    }
    made.push_back({std::move(issue), std::move(model)});
  }

  // Make sure that even a small market holds one of each special case.
  auto ensure = [&](auto has, auto make) {
    if (made.size() < 8) return;
    for (const auto& m : made) {
      if (has(m.first)) return;
    }
    for (int tries = 0; tries < 64; ++tries) {
      auto& m = made[random.Below(made.size())];
      if (m.first.record.kind == kKindStock && !m.first.retiredMarket &&
          m.first.record.code.back() < 'A') {
        make(m.first);
        return;
      }
    }
  };
  ensure([](const CSimIssue& i) { return i.record.kind == kKindEtf; },
         [](CSimIssue& i) { i.record.kind = kKindEtf; });
  ensure([](const CSimIssue& i) { return i.record.kind == kKindReit; },
         [](CSimIssue& i) { i.record.kind = kKindReit; });

  // Roles drawn per issue: market, listing, delisting, splits.
  enum Role {
    kNone = 0,
    kRetired = 1,
    kLate = 2,
    kDelisted = 4,
    kSplit = 8,
    kNoMargin = 16,
    kAutoMarket = 32,
    kIndustryDate = 64,
  };
  std::vector<int> roles(made.size(), kNone);
  for (size_t i = 0; i < made.size(); ++i) {
    Random own(Mix(made[i].second.daySeed, 0x401E));
    const bool stock = made[i].first.record.kind == kKindStock;
    if (stock && own.Chance(0.01)) roles[i] |= kRetired;
    if (own.Chance(0.04)) roles[i] |= kLate;
    if (own.Chance(0.02)) roles[i] |= kDelisted;
    if (stock && own.Chance(0.14)) roles[i] |= kSplit;
    if (own.Chance(stock ? 0.25 : 0.3)) roles[i] |= kNoMargin;
    if (stock && own.Chance(0.003)) roles[i] |= kAutoMarket;
    if (stock && own.Chance(0.005)) roles[i] |= kIndustryDate;
  }
  auto ensureRole = [&](int role) {
    if (made.size() < 8) return;
    for (int r : roles) {
      if (r & role) return;
    }
    for (int tries = 0; tries < 64; ++tries) {
      const size_t i = random.Below(made.size());
      if (made[i].first.record.kind == kKindStock && roles[i] == kNone &&
          made[i].first.record.code.back() < 'A') {
        roles[i] |= role;
        return;
      }
    }
  };
  ensureRole(kRetired);
  ensureRole(kLate);
  ensureRole(kDelisted);
  ensureRole(kSplit);
  ensureRole(kNoMargin);
  ensureRole(kAutoMarket);
  ensureRole(kIndustryDate);

  for (size_t i = 0; i < made.size(); ++i) {
    CSimIssue& issue = made[i].first;
    IssueModel& model = made[i].second;
    CBrandRecord& r = issue.record;
    Random own(Mix(model.daySeed, 0xA77));
    const int role = roles[i];
    const size_t industry = own.Below(kIndustryCount);

    // Market, industry and name.
    if (r.kind == kKindEtf) {
      r.market = kFundMarket;
      r.name = std::string(own.Pick(kEtfNames)) + "ETF";
      r.unit = own.Chance(0.5) ? 1 : (own.Chance(0.5) ? 10 : 100);
      model.level = std::exp(own.Uniform(std::log(500.0), std::log(30000.0)));
    } else if (r.kind == kKindReit) {
      r.market = kFundMarket;
      r.name = std::string(own.Pick(kReitStems)) + own.Pick(kReitKinds);
      r.unit = 1;
      model.level = std::exp(own.Uniform(std::log(50000.0), std::log(600000.0)));
    } else {
      const double m = own.Uniform();
      r.market = m < 0.43   ? kMarketPrime
                 : m < 0.81 ? kMarketStandard
                 : m < 0.96 ? kMarketGrowth
                            : own.Pick(kRegionalMarkets);
      // The retired role is drawn with and without the option, and its
      // name from a generator of its own, so that the rest of the market
      // is the same either way.
      if ((role & kRetired) && options_.retiredMarkets) {
        r.market = Random(Mix(model.daySeed, 0x4E7)).Pick(kRetiredMarkets);
        issue.retiredMarket = true;
      } else if (role & kAutoMarket) {
        r.market = kMarketUnlisted;
        issue.autoMarket = true;
      }
      r.industry = kIndustries[industry];
      if (role & kIndustryDate) {
        r.industry = kNoIndustry;
        issue.noIndustry = true;
      }
      r.name = std::string(own.Pick(kStems)) + own.Pick(kMids) +
               kSuffixes[industry][own.Below(3)];
      const double u = own.Uniform();
      if (u < 0.1) {
        issue.companyMark = CSimIssue::CompanyMark::kBefore;
      } else if (u < 0.2) {
        issue.companyMark = CSimIssue::CompanyMark::kAfter;
      }
      r.unit = 100;
      model.level = std::clamp(std::exp(std::log(1500.0) + own.Normal()), 60.0, 80000.0);
    }

    // Listing.
    // Drawn up to the horizon; what lies after today has not happened yet.
    model.first = firstDate_;
    model.last = horizonDate_;
    const bool letter = r.code.back() >= 'A';
    if (letter) {
      model.first = PickBusinessDay(own, std::max(recent, firstDate_), horizonDate_);
    } else if (role & kLate) {
      model.first = PickBusinessDay(own, firstDate_, horizonDate_);
    }
    if ((role & kDelisted) && !letter) {
      const CDate from = model.first.AddDays(100);
      const CDate to = horizonDate_.SubDays(14);
      if (from < to) model.last = PickBusinessDay(own, from, to);
    }
    issue.listed = model.first;
    if (model.last < lastDate_) issue.delisted = model.last;

    // Splits: one or two, effective on trading days after the listing.
    if (role & kSplit) {
      static const double kRatios[] = {2, 2, 2, 3, 5, 10, 1.5, 4};
      const int count = own.Chance(0.25) ? 2 : 1;
      const CDate from = model.first.AddDays(30);
      if (from < model.last) {
        for (int k = 0; k < count; ++k) {
          CDivideRecord split;
          split.date = PickBusinessDay(own, from, model.last);
          split.ratio = own.Pick(kRatios);
          bool clash = false;
          for (const CDivideRecord& s : model.splits) clash |= s.date == split.date;
          if (!clash) model.splits.push_back(split);
        }
        model.splits.Sort();
      }
    }

    // Figures of the issue page, from the price level.
    const double price = model.level;
    if (r.kind == kKindStock) {
      r.sharesOutstanding = std::round(std::exp(std::log(5e7) + 1.2 * own.Normal()) / 1000) * 1000;
      r.dividend = own.Chance(0.25) ? 0 : std::round(price * own.Uniform(0.005, 0.04) * 2) / 2;
      const double per = own.Uniform(8, 40);
      issue.loss = own.Chance(0.1);
      r.eps = std::round(price / per * 100) / 100;
      r.bps = std::round(price / own.Uniform(0.5, 4) * 100) / 100;
    } else if (r.kind == kKindReit) {
      r.sharesOutstanding = std::round(own.Uniform(2e5, 5e6));
      r.dividend = std::round(price * own.Uniform(0.03, 0.06));
      r.eps = r.dividend;
      r.bps = std::round(price / own.Uniform(0.7, 1.5));
    } else {
      r.sharesOutstanding = std::round(own.Uniform(1e6, 5e8) / 1000) * 1000;
    }
    if (!(role & kNoMargin)) r.lendable = own.Chance(0.6) ? 1 : 2;

    // The path and the trading.
    const bool regional = !issue.retiredMarket && r.market != kMarketPrime &&
                          r.market != kMarketStandard && r.market != kMarketGrowth &&
                          r.kind == kKindStock;
    model.yearSigma = r.kind == kKindStock ? 0.3 : 0.15;
    model.daySigma = r.kind == kKindStock ? own.Uniform(0.012, 0.03) : 0.01;
    model.volumeUnit = r.unit;
    model.volume = std::exp(std::log(r.kind == kKindStock ? 2e5 : 3e4) + 1.3 * own.Normal());
    if (regional) model.volume /= 20;
    model.volume = std::max<double>(model.volume, r.unit * 3.0);
    model.noTradeRate = model.volume < r.unit * 50.0 ? 0.05 : (regional ? 0.03 : 0.002);
    if (r.lendable != 0) {
      model.marginLevel = r.sharesOutstanding * own.Uniform(0.002, 0.02);
      if (model.marginLevel < 1000) model.marginLevel = 1000;
    }
  }

  AddBuiltIns(made);

  std::sort(made.begin(), made.end(), [](const auto& a, const auto& b) {
    return CodeLess(a.first.record.code, b.first.record.code);
  });
  issues_.reserve(made.size());
  models_.reserve(made.size());
  for (auto& m : made) {
    index_[m.first.record.code] = issues_.size();
    issues_.push_back(std::move(m.first));
    models_.push_back(std::move(m.second));
  }
}

void CSimMarket::AddBuiltIns(std::vector<std::pair<CSimIssue, IssueModel>>& made) {
  const CPrivateBrand& brands = CPrivateBrand::Instance();
  std::map<int32_t, uint64_t> walks;
  for (const BuiltInModel& b : kBuiltIns) {
    const CPrivateBrand::Entry entry = brands.Find(std::to_string(b.code));
    CSimIssue issue;
    IssueModel model;
    issue.builtIn = true;
    issue.record.code = std::to_string(b.code);
    issue.record.kind = entry.kind;
    issue.record.name = entry.name;
    issue.record.unit = 1;
    model.walkSeed = Mix(options_.seed, 0xB1, b.code);
    if (b.follows != 0 && walks.count(b.follows) != 0) model.walkSeed = walks[b.follows];
    walks[b.code] = model.walkSeed;
    model.daySeed = Mix(options_.seed, 0xB2, b.code);
    model.weekdays = b.weekdays;
    model.stockTicks = false;
    model.step = b.step;
    model.level = b.level;
    model.yearSigma = 0.18;
    model.daySigma = b.daySigma;
    model.volume = b.volume;
    model.volumeUnit = 1;
    model.first = firstDate_;
    model.last = lastDate_;
    if (b.weekdays) {
      const std::vector<uint32_t>& first = Days(true, options_.firstYear);
      const std::vector<uint32_t>& last = Days(true, today_.year);
      if (!first.empty()) (void)model.first.FromNumber(first.front());
      const auto end = std::upper_bound(last.begin(), last.end(), today_.ToNumber());
      if (end != last.begin()) (void)model.last.FromNumber(*(end - 1));
    }
    issue.listed = model.first;
    made.push_back({std::move(issue), std::move(model)});
  }
}

const CSimIssue* CSimMarket::Find(const std::string& code) const {
  const auto it = index_.find(code);
  return it == index_.end() ? nullptr : &issues_[it->second];
}

// ---- Making the series -------------------------------------------------------

// The log of the adjusted price on the first day of each year from the
// first year to `year` + 1: a walk drawn back towards the issue's level.
static double YearAnchor(uint64_t walkSeed, double level, double sigma,
                         uint32_t firstYear, uint32_t year) {
  const double centre = std::log(level);
  double x = centre + 0.5 * sigma * Random(Mix(walkSeed, 0xF1)).Normal();
  for (uint32_t y = firstYear; y < year; ++y) {
    Random r(Mix(walkSeed, 0xA0, y));
    x += 0.35 * (centre - x) + sigma * r.Normal();
  }
  return x;
}

void CSimMarket::MakeYear(const IssueModel& model, uint32_t year, bool bars,
                          bool margins, YearPart& part) const {
  const uint32_t firstNumber = model.first.ToNumber();
  const uint32_t lastNumber = std::min(model.last.ToNumber(), lastDate_.ToNumber());
  if (year < model.first.year || year > model.last.year) return;
  // The product of the ratios of the splits after `date`: of every split
  // drawn for the raw series (so that a market of a later today trades the
  // same before the split), of those up to today for the adjusted one,
  // which is restated on today's share count.
  auto factorAfter = [&](uint32_t date, uint32_t upTo) {
    double f = 1;
    for (const CDivideRecord& s : model.splits) {
      if (s.date.ToNumber() > date && s.date.ToNumber() <= upTo) f *= s.ratio;
    }
    return f;
  };
  const uint32_t horizonNumber = horizonDate_.ToNumber();
  const uint32_t todayNumber = lastDate_.ToNumber();

  if (bars) {
    const std::vector<uint32_t>& days = Days(model.weekdays, year);
    const size_t n = days.size();
    const double a0 = YearAnchor(model.walkSeed, model.level, model.yearSigma,
                                 options_.firstYear, year);
    const double a1 = YearAnchor(model.walkSeed, model.level, model.yearSigma,
                                 options_.firstYear, year + 1);
    // A Brownian bridge from this year's anchor to the next one's.
    std::vector<double> path(n);
    {
      Random r(Mix(model.walkSeed, 0xB0, year));
      double w = 0;
      for (size_t i = 0; i < n; ++i) {
        w += model.daySigma * r.Normal();
        path[i] = w;
      }
      for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i + 1) / static_cast<double>(n);
        path[i] = a0 + t * (a1 - a0) + path[i] - t * path[n - 1];
      }
    }
    Random r(Mix(model.daySeed, 0xD0, year));
    part.raw.reserve(n);
    part.adjusted.reserve(n);
    double previous = a0;
    for (size_t i = 0; i < n; ++i) {
      const double x = path[i];
      const double gap = 0.3 * model.daySigma * r.Normal();
      const double upper = std::abs(r.Normal()) * 0.5 * model.daySigma;
      const double lower = std::abs(r.Normal()) * 0.5 * model.daySigma;
      const double noise = r.Normal();
      const bool noTrade = r.Chance(model.noTradeRate);
      const double open0 = std::exp(previous + gap);
      const double move = x - previous;
      previous = x;
      const uint32_t date = days[i];
      if (date < firstNumber || date > lastNumber || noTrade) continue;

      const double factor = factorAfter(date, horizonNumber);
      const double restated = factorAfter(date, todayNumber);
      const double close0 = std::exp(x);
      double o = open0 * factor, c = close0 * factor;
      double h = std::max(o, c) * std::exp(upper);
      double l = std::min(o, c) * std::exp(-lower);
      auto round = [&](double v) {
        const double step = model.stockTicks ? StockTick(v) : model.step;
        return std::max(step, std::round(v / step) * step);
      };
      o = round(o);
      c = round(c);
      h = std::max({round(h), o, c});
      l = std::min({round(l), o, c});
      double volume = 0;
      if (model.volume > 0) {
        const double unit = model.volumeUnit;
        volume = model.volume * std::exp(0.5 * noise) * (1 + 20 * std::abs(move)) / factor;
        volume = std::max(unit, std::round(volume / unit) * unit);
      }
      CDayRecord raw;
      raw.SetDateNumber(date);
      raw.open = o;
      raw.high = h;
      raw.low = l;
      raw.close = c;
      raw.volume = volume;
      raw.rawClose = c;
      CDayRecord adjusted = raw;
      adjusted.open = F32(o / restated);
      adjusted.high = F32(h / restated);
      adjusted.low = F32(l / restated);
      adjusted.close = F32(c / restated);
      adjusted.volume = F32(volume * restated);
      part.raw.push_back(raw);
      part.adjusted.push_back(adjusted);
    }
  }

  if (margins && model.marginLevel > 0 && year >= options_.firstYear &&
      year <= today_.year) {
    const std::vector<uint32_t>& weeks = weekEnds_[year - options_.firstYear];
    const size_t n = weeks.size();
    Random anchor0(Mix(model.walkSeed, 0xE0, year));
    Random anchor1(Mix(model.walkSeed, 0xE0, year + 1));
    const double a0 = 0.6 * anchor0.Normal(), a1 = 0.6 * anchor1.Normal();
    Random r(Mix(model.daySeed, 0xE1, year));
    std::vector<double> path(n);
    double w = 0;
    for (size_t i = 0; i < n; ++i) {
      w += 0.08 * r.Normal();
      path[i] = w;
    }
    for (size_t i = 0; i < n; ++i) {
      const double t = static_cast<double>(i + 1) / static_cast<double>(n);
      path[i] = a0 + t * (a1 - a0) + path[i] - t * path[n - 1];
    }
    for (size_t i = 0; i < n; ++i) {
      const double sellShare = 0.05 + 0.5 * r.Uniform();
      const uint32_t date = weeks[i];
      if (date < firstNumber || date > lastNumber) continue;
      const double factor = factorAfter(date, horizonNumber);
      const double restated = factorAfter(date, todayNumber);
      CMarginRecord raw;
      (void)raw.date.FromNumber(date);  // a day of the calendar
      const double buy = model.marginLevel * std::exp(path[i]) / factor;
      raw.buy = std::round(buy / 100) * 100;
      raw.sell = std::round(buy * sellShare / 100) * 100;
      CMarginRecord adjusted = raw;
      adjusted.buy = raw.buy * restated;
      adjusted.sell = raw.sell * restated;
      part.margin.push_back(raw);
      part.adjustedMargin.push_back(adjusted);
    }
  }
}

std::shared_ptr<CSimSeries> CSimMarket::MakeSeries(const IssueModel& model) const {
  auto series = std::make_shared<CSimSeries>();
  for (const CDivideRecord& split : model.splits) {
    if (!(lastDate_ < split.date)) series->splits.push_back(split);
  }
  const uint32_t lastYear = std::min(model.last.year, lastDate_.year);
  for (uint32_t year = model.first.year; year <= lastYear; ++year) {
    YearPart part;
    MakeYear(model, year, true, true, part);
    series->raw.insert(series->raw.end(), part.raw.begin(), part.raw.end());
    series->adjusted.insert(series->adjusted.end(), part.adjusted.begin(),
                            part.adjusted.end());
    series->margin.insert(series->margin.end(), part.margin.begin(), part.margin.end());
    series->adjustedMargin.insert(series->adjustedMargin.end(),
                                  part.adjustedMargin.begin(),
                                  part.adjustedMargin.end());
  }
  return series;
}

std::shared_ptr<const CSimSeries> CSimMarket::Series(const std::string& code) const {
  const auto it = index_.find(code);
  if (it == index_.end()) return nullptr;
  {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    for (auto entry = cache_.begin(); entry != cache_.end(); ++entry) {
      if (entry->first == code) {
        cache_.splice(cache_.begin(), cache_, entry);
        return cache_.front().second;
      }
    }
  }
  // Made outside the lock: two threads may make the same series at once,
  // which costs time but gives equal series.
  std::shared_ptr<const CSimSeries> made = MakeSeries(models_[it->second]);
  std::lock_guard<std::mutex> lock(cacheMutex_);
  cache_.emplace_front(code, made);
  while (cache_.size() > options_.cacheIssues) cache_.pop_back();
  return made;
}

// ---- Whole-market views --------------------------------------------------------

void CSimMarket::BrandsOn(const CDate& date, CBrandMap& out) const {
  out.Clear();
  for (const CSimIssue& issue : issues_) {
    // Codes are unique in the market, so every insert takes.
    if (!issue.builtIn && issue.IsListedOn(date)) (void)out.Insert(issue.record);
  }
}

void CSimMarket::SplitsUpTo(const CDate& date, CDivideMap& out) const {
  out.Clear();
  for (size_t i = 0; i < issues_.size(); ++i) {
    for (const CDivideRecord& split : models_[i].splits) {
      // A model has at most one split a day, so every add takes.
      if (!(date < split.date)) (void)out.Add(issues_[i].record.code, split);
    }
  }
}

void CSimMarket::TradedBars(uint32_t from, uint32_t to, CChartTable& out) const {
  out.clear();
  if (to < from) return;
  const uint32_t year = from / 10000;
  for (size_t i = 0; i < issues_.size(); ++i) {
    YearPart part;
    MakeYear(models_[i], year, true, false, part);
    CChart chart;
    for (const CDayRecord& bar : part.raw) {
      if (bar.DateNumber() >= from && bar.DateNumber() <= to) chart.push_back(bar);
    }
    if (!chart.empty()) out.emplace(issues_[i].record.code, std::move(chart));
  }
}

void CSimMarket::ReportedMargins(uint32_t from, uint32_t to, CMarginTable& out) const {
  out.clear();
  if (to < from) return;
  const uint32_t year = from / 10000;
  for (size_t i = 0; i < issues_.size(); ++i) {
    if (models_[i].marginLevel <= 0) continue;
    YearPart part;
    MakeYear(models_[i], year, false, true, part);
    CMargin margin;
    for (const CMarginRecord& entry : part.margin) {
      const uint32_t d = entry.date.ToNumber();
      if (d >= from && d <= to) margin.push_back(entry);
    }
    if (!margin.empty()) out.emplace(issues_[i].record.code, std::move(margin));
  }
}

void CSimMarket::LatestBars(const CDate& date, CChartTable& out) const {
  out.clear();
  const uint32_t number = date.ToNumber();
  for (size_t i = 0; i < issues_.size(); ++i) {
    if (!issues_[i].IsListedOn(date)) continue;
    const IssueModel& model = models_[i];
    for (uint32_t year = std::min(date.year, model.last.year); year >= model.first.year;
         --year) {
      YearPart part;
      MakeYear(model, year, true, false, part);
      auto last = std::find_if(part.raw.rbegin(), part.raw.rend(),
                               [&](const CDayRecord& bar) { return bar.DateNumber() <= number; });
      if (last != part.raw.rend()) {
        out[issues_[i].record.code].push_back(*last);
        break;
      }
      if (year == 0) break;
    }
  }
}
