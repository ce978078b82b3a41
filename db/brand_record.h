#ifndef TICKORA_DB_BRAND_RECORD_H_
#define TICKORA_DB_BRAND_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Kind codes (種別) of an issue. They are stored in the database and in the
// issue list file and keep these values; REIT comes after the kinds of the
// built-in issues (index, currency pair, futures).
enum : std::int32_t {
  kKindNone = 0,
  kKindStock = 1,
  kKindEtf = 2,
  kKindIndex = 3,
  kKindCurrency = 4,
  kKindFutures = 5,
  kKindReit = 6,
};

// The display name of a kind code, as CP932 text: "なし", "株", "ETF",
// "指数", "為替", "先物", "REIT", and "(不明)" for any other value.
std::string KindName(std::int32_t kind);

// Longest issue code, in bytes, that the database and the files take.
constexpr std::size_t kMaxCodeBytes = 20;

// CBrandRecord is one issue (銘柄): a listed stock, an ETF or REIT, an index,
// a futures contract or a currency pair, with every attribute that the
// issue table keeps for it. It is a plain value: copy it freely; a copy
// holds every field. All texts are CP932 bytes and are kept exactly as
// given (apostrophes, backslashes and 0x5C trail bytes included); nothing
// here checks their lengths. The database columns hold at most 20 bytes of
// code, market and industry and 64 bytes of name.
class CBrandRecord {
 public:
  std::string code;          // issue code, the key of the issue list
  std::int32_t kind = kKindNone;
  std::string market;        // empty for built-in issues
  std::string industry;      // empty for built-in issues
  std::string name;
  std::uint32_t unit = 0;    // shares per trading lot
  // Margin status: 0 when the issue has no margin trading, otherwise
  // positive (the stock page reader uses 1 and 2).
  std::uint32_t lendable = 0;
  double sharesOutstanding = 0.0;
  double dividend = 0.0;     // per share
  double eps = 0.0;          // earnings per share
  double bps = 0.0;          // book value per share

  // Every field equal; the doubles compare as numbers.
  bool operator==(const CBrandRecord& other) const = default;
};

#endif  // TICKORA_DB_BRAND_RECORD_H_
