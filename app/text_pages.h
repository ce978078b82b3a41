#ifndef TICKORA_APP_TEXT_PAGES_H_
#define TICKORA_APP_TEXT_PAGES_H_

#include <QString>
#include <QWizardPage>

class QLabel;
class QPlainTextEdit;

// The welcome page: text only; Next leads on.
class CStartPage : public QWizardPage {
  Q_OBJECT

 public:
  explicit CStartPage(QWidget* parent = nullptr);
};

// The summary page: heading "1008" and the read-only summary "1007", both
// set by the wizard each time the page is entered (the page asks for them
// with TextRequested).
class CMessagePage : public QWizardPage {
  Q_OBJECT

 public:
  explicit CMessagePage(QWidget* parent = nullptr);

  void initializePage() override;

  void SetHeading(const QString& text);
  // `text` has "\r\n" line ends; the edit shows them as plain line breaks.
  void SetSummary(const QString& text);

 signals:
  void TextRequested(QWizardPage* page);

 private:
  QLabel* heading_;
  QPlainTextEdit* summary_;
};

// The closing page: text only; Finish closes the wizard.
class CEndPage : public QWizardPage {
  Q_OBJECT

 public:
  explicit CEndPage(QWidget* parent = nullptr);
};

#endif  // TICKORA_APP_TEXT_PAGES_H_
