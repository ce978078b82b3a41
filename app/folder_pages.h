#ifndef TICKORA_APP_FOLDER_PAGES_H_
#define TICKORA_APP_FOLDER_PAGES_H_

#include <QString>
#include <QWizardPage>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The folder text with spaces, tabs, carriage returns and line feeds cut
// from both ends: the database folder the run is given.
QString TrimFolderText(const QString& text);

// True when `text` may name the database folder: see the definition.
bool PassesFolderTest(const QString& text);

// The question the yes/no page asks about `folder`: whether to overwrite
// the existing folder, or whether to create it.
QString FolderQuestion(const QString& folder);

// The page that asks for the database folder: edit "1004" with the folder
// and button "1005" ("...") that opens the folder browser. Next is enabled
// while the edit's text passes PassesFolderTest.
class CFolderPage : public QWizardPage {
  Q_OBJECT

 public:
  explicit CFolderPage(QWidget* parent = nullptr);

  bool isComplete() const override;

  // The folder as the run is given it (trimmed).
  QString Folder() const;
  QLineEdit* Edit() const { return edit_; }

 private:
  void Browse();

  QLineEdit* edit_;
  QPushButton* browse_;
};

// The page that makes the user confirm the folder: the question in label
// "1008" (set by the wizard each time the page is entered), radio buttons
// "1014" ("はい") and "1015" ("いいえ", chosen at first). Next is enabled
// only while "はい" is chosen.
class CYesNoPage : public QWizardPage {
  Q_OBJECT

 public:
  explicit CYesNoPage(QWidget* parent = nullptr);

  void initializePage() override;
  bool isComplete() const override;

  void SetQuestion(const QString& text);

 signals:
  // Asks the wizard for the question; emitted on every entry.
  void TextRequested(QWizardPage* page);

 private:
  QLabel* question_;
  QRadioButton* yes_;
  QRadioButton* no_;
};

#endif  // TICKORA_APP_FOLDER_PAGES_H_
