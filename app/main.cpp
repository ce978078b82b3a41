// tickora-setup: the database setup wizard.
//
//   tickora-setup [FOLDER [GAP_TOLERANCE]]
//
// FOLDER names the database folder and skips the folder pages;
// GAP_TOLERANCE is the number of issues with a missing trading day that the
// quick price file accepts (20 when absent).

#include <QApplication>

#include "app/command_line.h"
#include "app/custom_wizard.h"
#include "app/setup_run_factory.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tickora-setup"));
  QApplication::setApplicationDisplayName(
      QStringLiteral("データベースセットアップウィザード"));

  // Qt has taken its own options out of argc and argv by now. The words are
  // read from argv rather than from QApplication::arguments(): the folder is
  // a file name, and bytes that are not valid UTF-8 (a folder named in CP932)
  // would not come back unchanged from a QString.
  CCustomWizard wizard(ParseWizardCommandLine(argc, argv), MakeSetupRun);
  // The exit status follows the shell's convention: 0 when the wizard was
  // finished, 1 when it was cancelled or closed.
  return wizard.exec() == QDialog::Accepted ? 0 : 1;
}
