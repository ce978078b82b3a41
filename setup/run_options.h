#ifndef TICKORA_SETUP_RUN_OPTIONS_H_
#define TICKORA_SETUP_RUN_OPTIONS_H_

#include <string>

// CRunOptions is how a setup run reads the user's choices. Every front end
// answers from a snapshot taken before the run starts, so the answers
// cannot change under it: the wizard takes its snapshot from the pages'
// controls when the summary page is shown, the command-line front end and
// the tests fill a CRunChoices. The run asks again each time it needs a
// choice, so an implementation must answer from any thread.
class CRunOptions {
 public:
  // The items of the issue-category tree.
  enum MarketItem { kEtf, kReit, kPrime, kStandard, kGrowth, kOtherMarkets };

  virtual ~CRunOptions() = default;

  // The folder that holds "stock.mdb", "daily" and "margin".
  virtual std::string DatabaseFolder() const = 0;
  [[nodiscard]] virtual bool IsMarketChecked(MarketItem item) const = 0;
  [[nodiscard]] virtual bool SplitsChosen() const = 0;
  [[nodiscard]] virtual bool MarginChosen() const = 0;
  // Prefer the bulk archive over reading web pages.
  [[nodiscard]] virtual bool UseArchive() const = 0;
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
  [[nodiscard]] bool IsMarketChecked(MarketItem item) const override;
  [[nodiscard]] bool SplitsChosen() const override { return splits; }
  [[nodiscard]] bool MarginChosen() const override { return margin; }
  [[nodiscard]] bool UseArchive() const override { return useArchive; }
};

#endif  // TICKORA_SETUP_RUN_OPTIONS_H_
