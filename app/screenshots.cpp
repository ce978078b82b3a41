// tickora-setup-screenshots: renders every page of the wizard to PNG files,
// so that the wizard can be looked at without running a setup.
//
//   tickora-setup-screenshots OUTPUT_FOLDER
//
// The progress page is shown against a scripted run that stops in the price
// stage (the "mid-run" picture) and then finishes (the "finished" picture);
// nothing is downloaded and no database is made. Message boxes are not
// shown. Runs on any Qt platform; scripts/screenshots uses the offscreen one.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>

#include "app/command_line.h"
#include "app/custom_wizard.h"
#include "app/folder_pages.h"
#include "app/message_box.h"
#include "support/cp932.h"

namespace {

// Runs the issue and split stages at once, then holds in the price stage
// until released.
class CScriptedRun : public CWorkerPage::CWorker {
 public:
  void Run(WorkerProgress& progress) override {
    progress.stage = kStagePrices;
    progress.total = 4000;
    progress.done = 1460;
    // The price stage's own line, as long as it gets.
    progress.SetStatus(Cp932FromUtf8(
        "銘柄コード 6758(1460/4000個目) の 2023/11/14 までの株価データをダウンロードしました"));
    holding_ = true;
    while (!release_ && progress.cancel == 0) QThread::msleep(5);
    progress.stage = kStageFinished;
    progress.done = progress.total.load();
    progress.SetStatus(Cp932FromUtf8("全ての銘柄のダウンロードが終わりました"));
  }
  std::atomic<bool> holding_{false};
  std::atomic<bool> release_{false};
};

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool Save(QWidget& window, const QString& folder, const QString& name) {
  Settle();
  const QString path = folder + "/" + name + ".png";
  if (!window.grab().save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tickora-setup-screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  // A finished run removes the per-user data folder: point the per-user
  // folders at a scratch place so that no real one is touched.
  QTemporaryDir scratch;
  if (!scratch.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.path()));

  // Japanese glyphs in their Japanese forms, where the font is installed.
  if (QFontDatabase::families().contains(QStringLiteral("Noto Sans CJK JP"))) {
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPointSize(10);
    QApplication::setFont(font);
  }
  SetMessageBoxHandler([](QWidget*, const QString&, const QString&) {});

  CScriptedRun run;
  CCustomWizard wizard(CWizardCommandLine{}, nullptr);
  wizard.WorkerPage()->SetWorker(&run);
  std::int64_t now = 1'700'000'000;
  wizard.WorkerPage()->SetClock([&now] { return now; });
  wizard.show();

  bool ok = Save(wizard, folder, "01-start");
  wizard.next();
  wizard.FolderPage()->Edit()->setText(QStringLiteral("/home/user/tickora/db"));
  ok &= Save(wizard, folder, "02-folder");
  wizard.next();
  wizard.findChild<QRadioButton*>(QStringLiteral("1014"))->setChecked(true);
  ok &= Save(wizard, folder, "03-yes-no");
  wizard.next();
  ok &= Save(wizard, folder, "04-category");
  wizard.next();
  ok &= Save(wizard, folder, "05-period");
  wizard.next();
  wizard.findChild<QCheckBox*>(QStringLiteral("1004"))->setChecked(true);
  ok &= Save(wizard, folder, "06-table");
  wizard.next();
  ok &= Save(wizard, folder, "07-archive");
  wizard.next();
  ok &= Save(wizard, folder, "08-summary");
  // The run locks its folder before it starts: now that the pages that show
  // the folder are taken, name one in the scratch folder (the summary takes
  // the choices again when it is entered).
  wizard.FolderPage()->Edit()->setText(scratch.path() + QStringLiteral("/db"));
  wizard.back();
  wizard.next();
  wizard.next();

  while (!run.holding_) QThread::msleep(5);
  now += 1520;
  wizard.WorkerPage()->Refresh();
  ok &= Save(wizard, folder, "09-progress-running");

  run.release_ = true;
  while (wizard.WorkerPage()->IsRunning() &&
         wizard.WorkerPage()->state() == CWorkerPage::State::kRunning) {
    QThread::msleep(5);
    now += 1;
    wizard.WorkerPage()->Refresh();
  }
  ok &= Save(wizard, folder, "10-progress-finished");
  wizard.next();
  ok &= Save(wizard, folder, "11-end");
  return ok ? 0 : 1;
}
