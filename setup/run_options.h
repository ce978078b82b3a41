#ifndef TICKORA_SETUP_RUN_OPTIONS_H_
#define TICKORA_SETUP_RUN_OPTIONS_H_

#include <string>

// CRunOptions is how a setup run reads the user's choices. The wizard
// answers from its controls (they are disabled for the whole run, so the
// answers cannot change under it); the command-line front end and the tests
// answer from a CRunChoices snapshot. The run asks again each time it needs
// a choice, so an implementation must answer from any thread.
class CRunOptions {
 public:
  // The items of the issue-category tree.
  enum MarketItem { kEtf, kReit, kPrime, kStandard, kGrowth, kOtherMarkets };

  virtual ~CRunOptions() = default;

  // The folder that holds "stock.mdb", "daily" and "margin".
  virtual std::string DatabaseFolder() const = 0;
  virtual bool IsMarketChecked(MarketItem item) const = 0;
  virtual bool SplitsChosen() const = 0;
  virtual bool MarginChosen() const = 0;
  // Prefer the bulk archive over reading web pages.
  virtual bool UseArchive() const = 0;
};

// A plain snapshot of the choices. Every market item is checked by default,
// as on a new wizard.
class CRunChoices : public CRunOptions {
 public:
  std::string databaseFolder;
  bool etf = true;
  bool reit = true;
  bool prime = true;
  bool standard = true;
  bool growth = true;
  bool otherMarkets = true;
  bool splits = true;
  bool margin = true;
  bool useArchive = true;

  std::string DatabaseFolder() const override { return databaseFolder; }
  bool IsMarketChecked(MarketItem item) const override;
  bool SplitsChosen() const override { return splits; }
  bool MarginChosen() const override { return margin; }
  bool UseArchive() const override { return useArchive; }
};

#endif  // TICKORA_SETUP_RUN_OPTIONS_H_
