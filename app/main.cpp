// tickora-setup: the database setup wizard.
//
//   tickora-setup [FOLDER [GAP_TOLERANCE]]
//
// FOLDER names the database folder and skips the folder pages;
// GAP_TOLERANCE is the number of issues with a missing trading day that the
// quick price file accepts (20 when absent).

#include <QApplication>
#include <QFile>
#include <QStringList>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/custom_wizard.h"
#include "app/setup_run_factory.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tickora-setup"));
  QApplication::setApplicationDisplayName(
      QStringLiteral("データベースセットアップウィザード"));

  // Qt has taken its own options out of the arguments by now. The words
  // stay in the file system's encoding, as the folder is a file name.
  std::vector<std::string> words;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    words.push_back(QFile::encodeName(arguments[i]).toStdString());
  }

  CCustomWizard wizard(ParseWizardCommandLine(words), MakeSetupRun);
  // The exit status follows the shell's convention: 0 when the wizard was
  // finished, 1 when it was cancelled or closed.
  return wizard.exec() == QDialog::Accepted ? 0 : 1;
}
