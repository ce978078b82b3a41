#include "setup/setup_run.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "support/replace_file.h"
#include "setup/resume_file.h"
#include "support/app_paths.h"
#include "support/cp932.h"
#include "support/settings_file.h"
#include "support/text.h"
#include "web/usage_log.h"
#include "web/web_archive.h"

namespace fs = std::filesystem;

CSetupRun::CSetupRun(const CRunOptions* options) : options_(options) {}

std::string CSetupRun::DatabaseFolder() const {
  return options_->DatabaseFolder();
}

std::string CSetupRun::DatabaseFilePath() const {
  return DatabaseFolder() + "/" + "stock.mdb";
}

std::string CSetupRun::DailyFolder() const {
  return DatabaseFolder() + "/" + "daily";
}

std::string CSetupRun::MarginFolder() const {
  return DatabaseFolder() + "/" + "margin";
}

void CSetupRun::SetPeriod(const CDate& first_date, const CLocalTime& reading) {
  firstDate_ = first_date;
  reading_ = reading;
}

std::int32_t CSetupRun::DaysInPeriod() const {
  return Today().DaysBetween(firstDate_) + 1;
}

std::int32_t CSetupRun::BeginStage(WorkerProgress& progress) {
  if (progress.resume == 1) {
    progress.resume = 0;
    return progress.resumeIndex;
  }
  return 0;
}

bool CSetupRun::BeginStage(WorkerProgress& progress, std::int32_t count,
                               std::int32_t& first) {
  const bool resumed = progress.resume == 1;
  first = BeginStage(progress);
  if (!resumed || first == 0 || first < count) return true;
  // Every position a run writes names an item of its stage's list, so one
  // at or past the end was not written by a run: taking it as "the stage
  // is done" would skip the stage's work without a word.
  progress.SetError(StringFormat(
      "再開する位置(%d件目)が銘柄リスト(%d件)の範囲外なので処理を中断します",
      first + 1, count));
  return false;
}

std::string CSetupRun::PositionFilePath() const {
  return ResumeFilePath(DatabaseFolder());
}

std::string CSetupRun::CodeListFilePath() const {
  return ResumeCodesPath(DatabaseFolder());
}

void CSetupRun::ContinueFrom(const CResumePosition& position) {
  SetPeriod(position.firstDate, position.reading);
  expectList_ = true;
  expectedCount_ = position.issueCount;
  expectedHash_ = position.issueHash;
}

bool CSetupRun::TakeExpectedList(std::int32_t& count, std::uint32_t& hash) {
  if (!expectList_) return false;
  expectList_ = false;
  count = expectedCount_;
  hash = expectedHash_;
  return true;
}

void CSetupRun::SetStageList(const std::vector<std::string>& list) {
  listCount_ = static_cast<std::int32_t>(list.size());
  listHash_ = HashIssueList(list);
}

bool CSetupRun::IssueListAsExpected() {
  std::int32_t count = 0;
  std::uint32_t hash = 0;
  if (!TakeExpectedList(count, hash)) return true;
  return static_cast<std::int32_t>(issueList_.size()) == count &&
         HashIssueList(issueList_) == hash;
}

bool CSetupRun::EnsureIssueList(WorkerProgress& progress) {
  if (!issueList_.empty()) {
    SetStageList(issueList_);
    return true;
  }
  if (!LoadIssueList(progress)) {
    // A list read only in part would let a resume work on the part alone
    // and end as a success with the other issues missing from every file:
    // it is dropped, so that the next stage that needs it reads it again.
    issueList_.clear();
    return false;
  }
  if (!IssueListAsExpected()) {
    issueList_.clear();
    progress.SetError(
        "データベースの銘柄リストが中断したときと異なるので処理を中断します");
    return false;
  }
  SetStageList(issueList_);
  return true;
}

bool CSetupRun::CheckResume(const CResumePosition& position, std::string& reason) {
  const std::int32_t index = position.resumeIndex;
  if (position.stage == kStageIssues) {
    // Stage 1 continues through its kept code list; without one (or with
    // one that is not the list of the position) it starts again at its
    // first code, which stores every issue again and loses nothing.
    std::vector<std::string> codes;
    if (ReadCodeListFile(CodeListFilePath(), codes) &&
        static_cast<std::int32_t>(codes.size()) == position.issueCount &&
        HashIssueList(codes) == position.issueHash && index >= position.issueCount &&
        index > 0) {
      reason = "holds a position (issue " + std::to_string(index + 1) +
               ") past the end of the code list of stage 1 (" +
               std::to_string(codes.size()) + " codes); delete the folder to start afresh";
      return false;
    }
    return true;
  }
  database_ = &CDBStock3::Instance();
  WorkerProgress progress;
  issueList_.clear();
  if (!database_->Open(DatabaseFilePath()) || !LoadIssueList(progress)) {
    issueList_.clear();
    reason = "holds an interrupted setup whose database (stock.mdb) does not read; "
             "delete the folder to start afresh";
    return false;
  }
  if (!IssueListAsExpected()) {
    issueList_.clear();
    reason = "holds an interrupted setup whose issue list differs from the one in its "
             "database; delete the folder to start afresh";
    return false;
  }
  if (index > 0 && index >= static_cast<std::int32_t>(issueList_.size())) {
    reason = "holds a position (issue " + std::to_string(index + 1) +
             ") past the end of the issue list (" + std::to_string(issueList_.size()) +
             " issues); delete the folder to start afresh";
    issueList_.clear();
    return false;
  }
  return true;
}

std::string CSetupRun::DatabaseErrorText() const {
  std::string text;
  // The native code is in the text already.
  if (database_ != nullptr) (void)database_->GetError(&text);
  // The engine's text says what failed ("database or disk is full",
  // "attempt to write a readonly database"); the path says where.
  return text + "\n" + Cp932FromUtf8(DatabaseFilePath());
}

void CSetupRun::SavePosition(WorkerProgress& progress, std::int32_t stage,
                           std::int32_t index) {
  progress.stage = stage;
  progress.resumeIndex = index;
  if (!keepPosition_ || (stage == writtenStage_ && index == writtenIndex_)) {
    return;
  }
  CResumePosition position;
  position.stage = stage;
  position.resumeIndex = index;
  position.choices.etf = options_->IsMarketChecked(CRunOptions::kEtf);
  position.choices.reit = options_->IsMarketChecked(CRunOptions::kReit);
  position.choices.prime = options_->IsMarketChecked(CRunOptions::kPrime);
  position.choices.standard = options_->IsMarketChecked(CRunOptions::kStandard);
  position.choices.growth = options_->IsMarketChecked(CRunOptions::kGrowth);
  position.choices.otherMarkets =
      options_->IsMarketChecked(CRunOptions::kOtherMarkets);
  position.choices.splits = options_->SplitsChosen();
  position.choices.margin = options_->MarginChosen();
  position.choices.useArchive = options_->UseArchive();
  position.firstDate = firstDate_;
  position.reading = reading_;
  position.issueCount = listCount_;
  position.issueHash = listHash_;
  // A position that cannot be written leaves the last one written, which
  // lies behind the real one: a later resume then fetches some issues
  // again, which stores the same data. The run itself goes on.
  if (WriteResumeFile(PositionFilePath(), position)) {
    writtenStage_ = stage;
    writtenIndex_ = index;
  }
}

bool CSetupRun::CreateFolders() {
  // Only the last level of each folder is made: the parent of the database
  // folder has to exist, as the user picked it from existing folders. What
  // this call made is taken back on failure so that no half-built layout is
  // left behind.
  std::vector<fs::path> made;
  for (const std::string& folder :
       {DatabaseFolder(), DailyFolder(), MarginFolder()}) {
    std::error_code ec;
    fs::path path(folder);
    if (fs::is_directory(path, ec)) continue;
    if (folder.empty() || !fs::create_directory(path, ec) || ec) {
      for (auto it = made.rbegin(); it != made.rend(); ++it) {
        fs::remove(*it, ec);
      }
      return false;
    }
    made.push_back(path);
  }
  return true;
}

std::string CSetupRun::BuildIncludeMarkets() const {
  std::vector<std::string> words;
  if (options_->IsMarketChecked(CRunOptions::kEtf) ||
      options_->IsMarketChecked(CRunOptions::kReit)) {
    words.push_back("東証");
  }
  if (options_->IsMarketChecked(CRunOptions::kPrime)) {
    words.push_back("東証プライム");
  }
  if (options_->IsMarketChecked(CRunOptions::kStandard)) {
    words.push_back("東証スタンダード");
  }
  if (options_->IsMarketChecked(CRunOptions::kGrowth)) {
    words.push_back("東証グロース");
  }
  return StringJoin(words, ';');
}

void CSetupRun::WriteSettings() {
  // The settings file belongs to the charting application: it is changed
  // only when it already exists and can be read, and never created here.
  std::string path = SettingsFilePath();
  if (path.empty()) return;
  CSettingsFile& settings = CSettingsFile::Instance();
  if (!settings.Load(path)) return;
  settings.Section("Config")["IncludeMarkets"] = CValue(BuildIncludeMarkets());
  // A settings file that cannot be written keeps its old markets: the
  // charting application still opens the folder, whose data is complete,
  // so the run does not fail for it.
  (void)settings.Save();
}

void CSetupRun::PostUsageLog(const std::string& event) {
  ::PostUsageLog(event);
}

bool CSetupRun::InitDatabase(WorkerProgress& progress) {
  database_ = &CDBStock3::Instance();
  const std::string path = DatabaseFilePath();
  const bool fresh = progress.resume == 0;
  if (fresh) {
    // The connection of an earlier run still points at the old file. The
    // old journal files go with it, so that the new database starts with
    // nothing of the old one beside it. The result is not checked: when the
    // file stays, creating the new one fails. Only files are deleted: a
    // folder in the way (even an empty one) is left for the user to see.
    database_->Close();
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) {
      if (!fs::is_directory(path + suffix, ec)) fs::remove(path + suffix, ec);
    }
    if (!database_->CreateDatabase(path)) {
      progress.SetError("データベースファイルを作成できませんでした");
      return false;
    }
  }
  if (!database_->Open(path)) {
    progress.SetError("データベースに接続できませんでした");
    return false;
  }
  if (!fresh) return true;
  if (!database_->CreateTables()) {
    progress.SetError("データベースのテーブルを作成できませんでした");
    return false;
  }
  if (!database_->RegisterPrivateBrands()) {
    progress.SetError("プライベート銘柄のデータを登録できませんでした");
    return false;
  }
  return true;
}

void CSetupRun::RemoveLeftovers() {
  // Chart, margin, quick and position files are written under a temporary
  // name and renamed; a run killed in between leaves the temporary file behind, and
  // the archive client's private folder (up to the size of the unpacked
  // archive) in the temporary directory.
  RemoveLeftReplacements(DailyFolder());
  RemoveLeftReplacements(MarginFolder());
  RemoveLeftReplacements(DatabaseFolder());
  CWebArchive::RemoveStaleFolders();
}

void CSetupRun::Run(WorkerProgress& progress) {
  // No exception leaves the worker thread: one that reaches here (a page
  // too large for memory, say) ends the run as a failure of the stage it
  // was in, whose position stays for a resume. A run that had finished
  // stays finished.
  const auto fail = [&progress](const std::string& what) {
    if (progress.stage == kStageFinished) return;
    progress.SetError("予期しないエラーが発生したので処理を中断します。\n\n" +
                      Cp932FromUtf8(what));
  };
  try {
    RunSteps(progress);
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail("unknown exception");
  }
}

void CSetupRun::RunSteps(WorkerProgress& progress) {
  // A run that stopped before its first stage began (the folders or the
  // database could not be made) has nothing to continue: the gates would
  // open for no stage and the database may be missing or half built. Such
  // a resume is run as a fresh run.
  if (progress.resume == 1 && progress.stage == kStageNone) {
    progress.resume = 0;
    progress.resumeIndex = 0;
  }
  // A fresh run builds a new database, so an issue list read from an
  // earlier one no longer holds: the first stage that needs it reads it
  // again.
  if (progress.resume == 0) issueList_.clear();
  if (!CreateFolders()) {
    progress.SetError("データベースフォルダを作成できませんでした");
    return;
  }
  writtenStage_ = writtenIndex_ = -1;
  listCount_ = 0;
  listHash_ = 0;
  // A fresh run throws the old database away, and with it the position
  // that pointed into it.
  if (keepPosition_ && progress.resume == 0) RemoveResumeFiles(DatabaseFolder());
  RemoveLeftovers();
  if (!InitDatabase(progress)) return;

  SetArchivePreference(options_->UseArchive());
  SetCancelFlag(&progress.cancel);
  // The source lets go of the record's flag however the run ends.
  struct Release {
    CSetupRun* run;
    ~Release() { run->SetCancelFlag(nullptr); }
  } release{this};

  // Each gate reads the resume flag afresh: the first stage that runs
  // clears it, and from then on every later gate is open.
  auto stage_runs = [&progress](std::int32_t stage) {
    return progress.resume == 0 || progress.stage == stage;
  };
  if (stage_runs(kStageIssues) && !DownloadIssues(progress)) return;
  if (stage_runs(kStageSplits) && options_->SplitsChosen() && !DownloadSplits(progress)) {
    return;
  }
  if (stage_runs(kStagePrices) && !DownloadPrices(progress)) return;
  // Resumed in the margin stage: the price stage's files are not taken on
  // trust, as the daily folder may have been lost since.
  if (progress.resume == 1 && progress.stage > kStagePrices && !CheckPriceFiles(progress)) return;
  if (stage_runs(kStageMargin) && options_->MarginChosen() && !DownloadMargins(progress)) {
    return;
  }

  WriteSettings();
  if (keepPosition_) RemoveResumeFiles(DatabaseFolder());
  progress.stage = kStageFinished;
  PostUsageLog("SetupComplete");
}
