#ifndef TICKORA_DB_PRIVATE_BRAND_H_
#define TICKORA_DB_PRIVATE_BRAND_H_

#include <cstdint>
#include <map>
#include <string>

// CPrivateBrand is the table of the built-in issues that no exchange list
// supplies: the market indices (1001-1004), the Nikkei 225 future (1051)
// and the currency pairs against the yen (1101-1109), with the portal pages
// from which their prices are read. It also holds the rules that tell
// built-in, currency and stock codes apart.
//
// There is one instance per process, built from a constant table on the
// first call to Instance (concurrent first calls are safe) and destroyed at
// process exit. It never changes after it is built, so any number of
// threads may read it at once. The static rules need no instance.
//
// Page addresses are paths with their queries only; the portal's scheme and
// host are a site setting of the web readers.
class CPrivateBrand {
 public:
  // One built-in issue. Texts are CP932.
  struct Entry {
    std::int32_t code = 0;      // stored in the database as decimal text
    std::int32_t kind = 0;      // kind code of brand_record.h
    std::string name;
    // The number in an external listing; carried, read by nothing.
    std::int64_t sourceNumber = 0;
    std::string historyPage;    // price history page; empty when none
    std::string detailPage;     // current quote page; empty when none

    bool operator==(const Entry& other) const = default;
  };
  using Map = std::map<std::int32_t, Entry>;

  static const CPrivateBrand& Instance();

  CPrivateBrand(const CPrivateBrand&) = delete;
  CPrivateBrand& operator=(const CPrivateBrand&) = delete;

  // Replaces the contents of `out` with a copy of every entry.
  void CopyTo(Map& out) const;

  // A copy of the entry whose code equals DecimalValue(code); when there is
  // none, an entry of code 0, kind 0 and empty texts.
  Entry Find(const std::string& code) const;

  // The display name of a kind code (see ::KindName).
  static std::string KindName(std::int32_t kind);

  // The whole text is one or more ASCII digits (regular expression \d+).
  [[nodiscard]] static bool IsNumericCode(const std::string& code);
  // The whole text is three or four digits, optionally followed by one
  // capital letter (\d{3,4}[A-Z]?), the form of a listed issue's code.
  [[nodiscard]] static bool IsStockCode(const std::string& code);
  // Exactly 4 bytes long and a decimal value from 1100 to 1199.
  [[nodiscard]] static bool IsCurrencyCode(const std::string& code);
  // Numeric, with a value below 1300 or above 9999.
  [[nodiscard]] static bool IsPrivateCode(const std::string& code);
  // A currency code, or a decimal value from 1001 to 1003: the codes whose
  // prices are read from the portal.
  [[nodiscard]] static bool HasPortalPage(const std::string& code);

  // The value read from the start of the text: optional white space and
  // sign, then the leading digits; 0 when there are none. Values beyond
  // the range of 64 bits stop at its ends.
  static std::int64_t DecimalValue(const std::string& code);

 private:
  CPrivateBrand();
  virtual ~CPrivateBrand() = default;

  Map entries_;
};

#endif  // TICKORA_DB_PRIVATE_BRAND_H_
