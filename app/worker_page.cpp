#include "app/worker_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWizard>

#include <algorithm>
#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>

#include "app/message_box.h"
#include "support/app_paths.h"
#include "support/cp932.h"

namespace {

const char* const kBoxTexts[4] = {
    "(1) 銘柄データのダウンロード",
    "(2) 株式分割データのダウンロード",
    "(3) 株価データのダウンロード",
    "(4) 信用残データのダウンロード",
};
const char* const kBoxIds[4] = {"1009", "1003", "1011", "1004"};

QString DownloadCaption() { return QStringLiteral("ダウンロード"); }

QString FromCp932(const std::string& text) {
  return QString::fromStdString(Utf8FromCp932(text));
}

}  // namespace

QString FormatDuration(std::uint32_t seconds) {
  const std::uint32_t hours = seconds / 3600;
  const std::uint32_t minutes = (seconds % 3600) / 60;
  if (hours > 0) {
    return QStringLiteral("%1時間%2分")
        .arg(hours, 2, 10, QChar(u'0'))
        .arg(minutes, 2, 10, QChar(u'0'));
  }
  return QStringLiteral("%1分%2秒")
      .arg(minutes, 2, 10, QChar(u'0'))
      .arg(seconds % 60, 2, 10, QChar(u'0'));
}

CWorkerPage::CWorkerPage(QWidget* parent)
    : QWizardPage(parent),
      clock_([] { return static_cast<std::int64_t>(std::time(nullptr)); }) {
  auto* layout = new QVBoxLayout(this);
  for (int i = 0; i < 4; ++i) {
    auto* box = new QCheckBox(QString::fromUtf8(kBoxTexts[i]));
    box->setObjectName(QString::fromLatin1(kBoxIds[i]));
    // The boxes only show how far the run has come: the user cannot tick
    // them.
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setFocusPolicy(Qt::NoFocus);
    boxes_[i] = box;
    layout->addWidget(box);
  }
  boxes_[1]->setEnabled(false);
  boxes_[3]->setEnabled(false);
  layout->addSpacing(12);

  bar_ = new QProgressBar;
  bar_->setObjectName(QStringLiteral("1010"));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  layout->addWidget(bar_);

  status_ = new QLabel(QStringLiteral("STATUS"));
  status_->setObjectName(QStringLiteral("1013"));
  status_->setTextFormat(Qt::PlainText);
  // The longest lines (an issue, its place in the list and a date) are wider
  // than the page: they wrap, Japanese text between any two characters. Two
  // lines are kept for them, so that the times below do not move as the
  // line grows and shrinks.
  status_->setWordWrap(true);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  status_->setMinimumHeight(2 * status_->fontMetrics().lineSpacing());
  layout->addWidget(status_);
  layout->addSpacing(12);

  auto* times = new QGridLayout;
  elapsed_ = new QLabel(QStringLiteral("00時間00分"));
  elapsed_->setObjectName(QStringLiteral("1012"));
  remaining_ = new QLabel(QStringLiteral("00時間00分"));
  remaining_->setObjectName(QStringLiteral("1014"));
  times->addWidget(new QLabel(QStringLiteral("経過時間")), 0, 0);
  times->addWidget(elapsed_, 0, 1);
  times->addWidget(new QLabel(QStringLiteral("残り時間")), 1, 0);
  times->addWidget(remaining_, 1, 1);
  times->setColumnStretch(2, 1);
  times->setHorizontalSpacing(24);
  layout->addLayout(times);
  layout->addStretch();

  timer_.setInterval(500);
  connect(&timer_, &QTimer::timeout, this, &CWorkerPage::Refresh);
}

CWorkerPage::~CWorkerPage() { StopQuietly(); }

void CWorkerPage::StopQuietly() {
  timer_.stop();
  if (thread_.joinable()) {
    progress_.cancel = 1;
    thread_.join();
  }
}

void CWorkerPage::SetStagesChosen(bool splits, bool margin) {
  splitsChosen_ = splits;
  marginChosen_ = margin;
  boxes_[1]->setEnabled(splits);
  boxes_[3]->setEnabled(margin);
}

void CWorkerPage::SetPendingResume(bool pending, std::int32_t stage,
                                   std::int32_t index) {
  if (thread_.joinable()) return;
  resumePending_ = pending;
  progress_.stage = pending ? stage : kStageNone;
  progress_.resumeIndex = pending ? index : 0;
}

void CWorkerPage::Start(bool resume) {
  if (thread_.joinable()) return;
  progress_.SetError(std::string());
  progress_.cancel = 0;
  progress_.total = 100;
  progress_.done = 0;
  progress_.resume = resume ? 1 : 0;
  if (!resume) {
    progress_.stage = kStageNone;
    progress_.resumeIndex = 0;
  }
  finished_ = false;
  try {
    thread_ = std::thread([this] {
      // No exception ends the program from here: it becomes the run's
      // failure, shown like any other.
      try {
        if (worker_ != nullptr) worker_->Run(progress_);
      } catch (const std::exception& e) {
        progress_.SetError(Cp932FromUtf8(
            std::string("予期しないエラーが発生したので処理を中断します。\n\n") + e.what()));
      } catch (...) {
        progress_.SetError(Cp932FromUtf8("予期しないエラーが発生したので処理を中断します。"));
      }
      finished_ = true;
    });
  } catch (const std::system_error&) {
    // The page stays with Back and Next disabled; a pending resume stays
    // pending.
    ShowMessageBox(this,
                   QStringLiteral("バックグラウンドスレッドの開始に失敗しました"),
                   DownloadCaption());
    return;
  }
  resumePending_ = false;
  startTime_ = clock_();
  state_ = State::kRunning;
  emit completeChanged();
  bar_->setRange(0, progress_.total);
  bar_->setValue(progress_.done);
  timer_.start();
}

void CWorkerPage::initializePage() {
  // Next stays disabled until a run has ended.
  state_ = State::kIdle;
  emit completeChanged();
  if (!resumePending_) {
    Start(false);
  } else {
    ShowMessageBox(this, QStringLiteral("ダウンロードを前回の続きから再開します"));
    Start(true);
  }
}

bool CWorkerPage::isComplete() const {
  return state_ == State::kFinished || state_ == State::kFailed ||
         state_ == State::kCancelled;
}

bool CWorkerPage::validatePage() {
  if (!resumePending_) return true;
  ShowMessageBox(this, QStringLiteral("ダウンロードを前回の続きから再開します"));
  Start(true);
  return false;
}

bool CWorkerPage::Cancel() {
  if (!thread_.joinable()) return false;
  progress_.cancel = 1;
  timer_.stop();
  thread_.join();
  // The run may have ended before the cancel reached it: it finished or
  // failed before the next tick showed it, or it was in its last steps
  // (the settings file, the usage post), which run to their end. Its real
  // outcome is shown then, not a cancel.
  if (progress_.stage == kStageFinished || !progress_.Error().empty()) {
    Refresh();
    ShowOutcome();
    return true;
  }
  ShowMessageBox(this,
                 QStringLiteral("ダウンロードを中断しました。\n"
                                "もう一回キャンセルを押すと終了し、"
                                "一旦戻ってから次へを押すと続きからダウンロードを再開します。"),
                 DownloadCaption());
  state_ = State::kCancelled;
  resumePending_ = true;
  emit completeChanged();
  return true;
}

void CWorkerPage::SetBox(int index, bool running) {
  QString text = QString::fromUtf8(kBoxTexts[index]);
  text += running ? QStringLiteral(" ・・・") : QStringLiteral(" ・・・ 完了");
  boxes_[index]->setChecked(true);
  boxes_[index]->setText(text);
}

void CWorkerPage::Refresh() {
  // Whether the run has ended is read before the record: when it has, every
  // value the run wrote is visible below, so the tick that sees the end
  // shows the run's final state rather than one a moment older.
  const bool ended = thread_.joinable() && finished_;
  const std::int32_t total = progress_.total;
  const std::int32_t done = progress_.done;
  // A stage may report no work at all (total 0); the bar then stays empty
  // instead of dividing by zero.
  int percent = 0;
  if (total > 0) {
    const double share = static_cast<double>(done) / total * 100.0;
    percent = static_cast<int>(std::clamp(share, 0.0, 100.0));
  }
  bar_->setRange(0, 100);
  bar_->setValue(percent);

  status_->setText(FromCp932(progress_.Status()));

  const std::int64_t elapsed = std::max<std::int64_t>(clock_() - startTime_, 0);
  elapsed_->setText(FormatDuration(static_cast<std::uint32_t>(elapsed)));
  if (done > 0) {
    const double left = static_cast<double>(elapsed) / done * (total - done);
    remaining_->setText(FormatDuration(
        static_cast<std::uint32_t>(std::clamp(left, 0.0, 4294967295.0))));
  }

  const std::int32_t stage = progress_.stage;
  if (stage >= kStageIssues) SetBox(0, stage == kStageIssues);
  if (stage >= kStageSplits && splitsChosen_) SetBox(1, stage == kStageSplits);
  if (stage >= kStagePrices) SetBox(2, stage == kStagePrices);
  if (stage >= kStageMargin && marginChosen_) SetBox(3, stage == kStageMargin);

  if (ended) EndedRun();
}

void CWorkerPage::EndedRun() {
  timer_.stop();
  thread_.join();
  ShowOutcome();
}

void CWorkerPage::ShowOutcome() {
  const std::string error = progress_.Error();
  if (!error.empty()) {
    ShowMessageBox(this, FromCp932(error));
    ShowMessageBox(this,
                   QStringLiteral("ダウンロードはエラーのため中断しました。\n"
                                  "もう一回キャンセルを押すと終了し、"
                                  "次へを押すと続きから再試行します。"),
                   DownloadCaption());
    state_ = State::kFailed;
    resumePending_ = true;
  } else {
    // The per-user data folder holds data of the old database.
    RemoveUserDataFolder();
    ShowMessageBox(this, QStringLiteral("ダウンロードを完了しました"),
                   DownloadCaption());
    state_ = State::kFinished;
  }
  emit completeChanged();
}
