#include "app/choice_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/page_style.h"

CCategoryPage::CCategoryPage(QWidget* parent) : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePageText(QStringLiteral(
      "ダウンロードする銘柄の種類を指定してください。\n\n"
      "標準的な指数や為替は必須でダウンロードされます。")));
  layout->addSpacing(8);

  tree_ = new QTreeWidget;
  tree_->setObjectName(QStringLiteral("1001"));
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setColumnCount(1);
  layout->addWidget(tree_);

  // Items get check boxes by having a check state. No item is auto
  // tristate, so a root's box never changes its children.
  auto add_root = [this](const QString& text) {
    auto* root = new QTreeWidgetItem(tree_, QStringList{text});
    root->setCheckState(0, Qt::Unchecked);
    return root;
  };
  auto add_child = [](QTreeWidgetItem* root, const QString& text) {
    auto* child = new QTreeWidgetItem(root, QStringList{text});
    child->setCheckState(0, Qt::Unchecked);
    return child;
  };
  QTreeWidgetItem* kinds = add_root(QStringLiteral("分類"));
  items_[CRunOptions::kEtf] = add_child(kinds, QStringLiteral("ETF"));
  items_[CRunOptions::kReit] = add_child(kinds, QStringLiteral("REIT"));
  QTreeWidgetItem* stocks = add_root(QStringLiteral("株式"));
  items_[CRunOptions::kPrime] = add_child(stocks, QStringLiteral("東証プライム"));
  items_[CRunOptions::kStandard] =
      add_child(stocks, QStringLiteral("東証スタンダード"));
  items_[CRunOptions::kGrowth] =
      add_child(stocks, QStringLiteral("東証グロース"));
  items_[CRunOptions::kOtherMarkets] =
      add_child(stocks, QStringLiteral("その他市場"));
  kinds->setExpanded(true);
  stocks->setExpanded(true);
  items_[CRunOptions::kPrime]->setCheckState(0, Qt::Checked);
}

bool CCategoryPage::IsChecked(CRunOptions::MarketItem item) const {
  return items_[item]->checkState(0) != Qt::Unchecked;
}

CPeriodPage::CPeriodPage(int last_year, QWidget* parent)
    : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePageText(QStringLiteral(
      "西暦何年からの時系列データを\nダウンロードするか指定してください。")));
  layout->addSpacing(12);

  combo_ = new QComboBox;
  combo_->setObjectName(QStringLiteral("1002"));
  if (last_year <= 0) last_year = QDate::currentDate().year();
  constexpr int kFirstYear = 2000;
  for (int year = kFirstYear; year <= last_year; ++year) {
    combo_->addItem(QStringLiteral("%1年～").arg(year, 4));
  }
  // The eleventh entry, 2010; a list that ends earlier keeps its last.
  combo_->setCurrentIndex(std::min(10, combo_->count() - 1));
  combo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  layout->addWidget(combo_, 0, Qt::AlignLeft);
  layout->addSpacing(16);
  layout->addWidget(MakePageText(QStringLiteral(
      "期間が長いほどダウンロードに時間がかかります。"
      "ここで全てのデータをダウンロードしなくても、"
      "後からデータを追加することも出来ます。")));
  layout->addStretch();
}

int CPeriodPage::Year() const {
  int year = 0;
  for (QChar c : combo_->currentText()) {
    if (!c.isDigit()) break;
    year = year * 10 + c.digitValue();
  }
  return year;
}

CTablePage::CTablePage(QWidget* parent) : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePageText(
      QStringLiteral("次の情報もダウンロードするかどうか指定してください。")));
  layout->addSpacing(8);
  splits_ = new QCheckBox(QStringLiteral("株式分割データ"));
  splits_->setObjectName(QStringLiteral("1003"));
  splits_->setChecked(true);
  splits_->setEnabled(false);
  margin_ = new QCheckBox(QStringLiteral("信用残データ"));
  margin_->setObjectName(QStringLiteral("1004"));
  layout->addWidget(splits_);
  layout->addWidget(margin_);
  layout->addSpacing(16);
  layout->addWidget(MakePageText(QStringLiteral(
      "株式分割データをダウンロードしないと、"
      "チャート表示が分割のあった前後で不連続になります。\n\n"
      "  なお、ここで行わなくても後からでもダウンロードは可能です。")));
  layout->addStretch();
}

bool CTablePage::SplitsChecked() const { return splits_->isChecked(); }
bool CTablePage::MarginChecked() const { return margin_->isChecked(); }

CArchivePage::CArchivePage(QWidget* parent) : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePageText(QStringLiteral(
      "株価データのダウンロードにWebアーカイブを利用するかどうかを"
      "指定してください。")));
  layout->addSpacing(8);
  archive_ = new QCheckBox(QStringLiteral("Webアーカイブを優先的に利用する"));
  archive_->setObjectName(QStringLiteral("1015"));
  archive_->setChecked(true);
  layout->addWidget(archive_);
  layout->addSpacing(16);
  layout->addWidget(MakePageText(QStringLiteral(
      "Webアーカイブを利用すると、非常に高速に（数分）"
      "データのダウンロードが完了できます。"
      "利用しない場合は、数時間以上かかります。\n\n"
      "通常はアーカイブを利用してください。")));
  layout->addStretch();
}

bool CArchivePage::UseArchive() const { return archive_->isChecked(); }
