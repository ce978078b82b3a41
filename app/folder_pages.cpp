#include "app/folder_pages.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

#include "app/page_style.h"

namespace {

bool IsFolderBlank(QChar c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::filesystem::path FileSystemPath(const QString& text) {
  return std::filesystem::path(QFile::encodeName(text).toStdString());
}

}  // namespace

QString TrimFolderText(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && IsFolderBlank(text[first])) ++first;
  while (last > first && IsFolderBlank(text[last - 1])) --last;
  return text.mid(first, last - first);
}

// The folder test on this platform: the trimmed text must be an absolute
// path ("/..."), and it must not name something that exists and is not a
// directory (a regular file, a device, a socket ...), because the run
// cannot make the database folder there. A directory that exists passes
// (the yes/no page then asks before it is overwritten), and so does a path
// that does not exist yet (the run creates it). A relative path fails: it
// would depend on the folder the wizard happened to be started from.
bool PassesFolderTest(const QString& text) {
  const QString folder = TrimFolderText(text);
  if (folder.isEmpty() || !folder.startsWith(u'/')) return false;
  std::error_code ec;
  const auto status = std::filesystem::status(FileSystemPath(folder), ec);
  if (!std::filesystem::exists(status)) return true;
  return std::filesystem::is_directory(status);
}

QString FolderQuestion(const QString& folder) {
  std::error_code ec;
  if (std::filesystem::is_directory(FileSystemPath(folder), ec)) {
    return QStringLiteral(
               "指定されたフォルダ\n\n  %1\n\nは既に存在します。"
               "既存のデータがあれば上書きされますがよろしいですか？")
        .arg(folder);
  }
  return QStringLiteral(
             "指定されたフォルダ\n\n  %1\n\nは存在しません。作成してよろしいですか？")
      .arg(folder);
}

CFolderPage::CFolderPage(QWidget* parent) : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePageText(
      QStringLiteral("データベースを作成するフォルダを指定してください。")));
  layout->addSpacing(12);

  auto* row = new QHBoxLayout;
  edit_ = new QLineEdit;
  edit_->setObjectName(QStringLiteral("1004"));
  browse_ = new QPushButton(QStringLiteral("..."));
  browse_->setObjectName(QStringLiteral("1005"));
  browse_->setFixedWidth(36);
  row->addWidget(edit_);
  row->addWidget(browse_);
  layout->addLayout(row);
  layout->addStretch();

  connect(edit_, &QLineEdit::textChanged, this,
          &CFolderPage::completeChanged);
  connect(browse_, &QPushButton::clicked, this, &CFolderPage::Browse);
}

bool CFolderPage::isComplete() const {
  return PassesFolderTest(edit_->text());
}

QString CFolderPage::Folder() const { return TrimFolderText(edit_->text()); }

void CFolderPage::Browse() {
  const QString picked = QFileDialog::getExistingDirectory(
      window(), QStringLiteral("DBフォルダを選択してください"), Folder(),
      QFileDialog::ShowDirsOnly);
  // A cancelled browser gives an empty path and leaves the edit as it was.
  if (!picked.isEmpty()) edit_->setText(picked);
}

CYesNoPage::CYesNoPage(QWidget* parent) : QWizardPage(parent) {
  auto* layout = new QVBoxLayout(this);
  question_ = MakePageText(QString());
  question_->setObjectName(QStringLiteral("1008"));
  layout->addWidget(question_);
  layout->addSpacing(16);
  yes_ = new QRadioButton(QStringLiteral("はい"));
  yes_->setObjectName(QStringLiteral("1014"));
  no_ = new QRadioButton(QStringLiteral("いいえ"));
  no_->setObjectName(QStringLiteral("1015"));
  no_->setChecked(true);
  layout->addWidget(yes_);
  layout->addWidget(no_);
  layout->addStretch();

  connect(yes_, &QRadioButton::toggled, this, &CYesNoPage::completeChanged);
}

void CYesNoPage::initializePage() { emit TextRequested(this); }

bool CYesNoPage::isComplete() const { return yes_->isChecked(); }

void CYesNoPage::SetQuestion(const QString& text) { question_->setText(text); }
