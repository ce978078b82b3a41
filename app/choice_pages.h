#ifndef TICKORA_APP_CHOICE_PAGES_H_
#define TICKORA_APP_CHOICE_PAGES_H_

#include <QWizardPage>

#include <array>

#include "setup/run_options.h"

class QCheckBox;
class QComboBox;
class QTreeWidget;
class QTreeWidgetItem;

// The page of the kinds of issues: tree "1001" with check boxes, two roots
// ("分類" with ETF and REIT, "株式" with the four market segments). Only the
// six children are read; a root's check box means nothing and does not
// reach its children. At first only 東証プライム is checked.
class CCategoryPage : public QWizardPage {
  Q_OBJECT

 public:
  explicit CCategoryPage(QWidget* parent = nullptr);

  // An item counts as checked when its state is anything but unchecked.
  bool IsChecked(CRunOptions::MarketItem item) const;
  QTreeWidgetItem* Item(CRunOptions::MarketItem item) const {
    return items_[item];
  }
  QTreeWidget* Tree() const { return tree_; }

 private:
  QTreeWidget* tree_;
  // Indexed by CRunOptions::MarketItem.
  std::array<QTreeWidgetItem*, 6> items_{};
};

// The page of the first year: drop-down "1002" with "2000年～" up to the
// current year, 2010 chosen at first.
class CPeriodPage : public QWizardPage {
  Q_OBJECT

 public:
  // `last_year` is the last entry of the list; 0 takes the current year.
  explicit CPeriodPage(int last_year = 0, QWidget* parent = nullptr);

  // The leading digits of the chosen entry read as a number.
  int Year() const;
  QComboBox* Combo() const { return combo_; }

 private:
  QComboBox* combo_;
};

// The page of the optional tables: "1003" splits (checked, and disabled so
// that it stays checked) and "1004" margin balances (unchecked).
class CTablePage : public QWizardPage {
  Q_OBJECT

 public:
  explicit CTablePage(QWidget* parent = nullptr);

  bool SplitsChecked() const;
  bool MarginChecked() const;

 private:
  QCheckBox* splits_;
  QCheckBox* margin_;
};

// The page of the archive preference: "1015", checked at first.
class CArchivePage : public QWizardPage {
  Q_OBJECT

 public:
  explicit CArchivePage(QWidget* parent = nullptr);

  bool UseArchive() const;

 private:
  QCheckBox* archive_;
};

#endif  // TICKORA_APP_CHOICE_PAGES_H_
