#include "app/text_pages.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/page_style.h"

CStartPage::CStartPage(QWidget* parent) : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePageText(QStringLiteral(
      "データベースのセットアップを行います。\n\n"
      "「次へ」をクリックしてウィザードを開始してください。")));
  layout->addStretch();
}

CMessagePage::CMessagePage(QWidget* parent) : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  heading_ = MakePageText(QStringLiteral("スタティックメッセージ"));
  heading_->setObjectName(QStringLiteral("1008"));
  layout->addWidget(heading_);
  layout->addSpacing(8);
  summary_ = new QPlainTextEdit;
  summary_->setObjectName(QStringLiteral("1007"));
  summary_->setReadOnly(true);
  summary_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  summary_->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(summary_);
}

void CMessagePage::initializePage() { emit TextRequested(this); }

void CMessagePage::SetHeading(const QString& text) { heading_->setText(text); }

void CMessagePage::SetSummary(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  summary_->setPlainText(shown);
}

CEndPage::CEndPage(QWidget* parent) : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePageText(QStringLiteral(
      "データベースのセットアップが完了しました。\n\n"
      "「完了」をクリックしてウィンドウを閉じてください。")));
  layout->addStretch();
}
