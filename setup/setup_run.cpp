#include "setup/setup_run.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <set>
#include <system_error>

#include "series/issue_file_path.h"
#include "setup/issue_list.h"
#include "setup/series_stages.h"
#include "setup/setup_record.h"
#include "setup/split_stage.h"
#include "support/app_paths.h"
#include "support/cp932.h"
#include "support/file_error.h"
#include "support/settings_file.h"
#include "support/replace_file.h"
#include "support/text.h"
#include "web/web_archive.h"

namespace fs = std::filesystem;

CSetupRun::CSetupRun(const CRunOptions* options, std::unique_ptr<CWebMarket> market)
    : options_(options), market_(std::move(market)) {
  // Every date rule of the source follows the run's one reading of the
  // clock, never the live clock: a run that crosses 15:00 or 15:40, or
  // resumes the next morning, still names the same archive files and ends
  // every chart on the same day.
  const CLocalClock reading = [this] { return reading_; };
  if (!market_) market_ = std::make_unique<CWebMarket>(reading);
  market_->SetClock(reading);
}

CSetupRun::~CSetupRun() = default;

CRunContext CSetupRun::Context(WorkerProgress& progress) {
  return CRunContext{*options_, database_, *market_,      progress,        position_,
                     firstDate_, reading_,  gapTolerance_, refusedRecords_, update_};
}

void CSetupRun::SetPeriod(const CDate& first_date, const CLocalTime& reading) {
  firstDate_ = first_date;
  reading_ = reading;
}

void CSetupRun::ContinueFrom(const CResumePosition& position) {
  SetPeriod(position.firstDate, position.reading);
  update_ = position.update;
  position_.Expect(position.issueCount, position.issueHash);
}

bool CSetupRun::IssueListAsExpected() {
  std::int32_t count = 0;
  std::uint32_t hash = 0;
  if (!position_.TakeExpected(count, hash)) return true;
  return static_cast<std::int32_t>(issueList_.size()) == count &&
         HashIssueList(issueList_) == hash;
}

bool CSetupRun::EnsureIssueList(CRunContext& run) {
  if (issueList_.empty()) {
    if (!LoadIssueList(run, issueList_)) return false;
    if (update_) KeepListedIssues();
    if (!IssueListAsExpected()) {
      issueList_.clear();
      run.progress.SetError(
          "データベースの銘柄リストが中断したときと異なるので処理を中断します");
      return false;
    }
  }
  run.position.SetList(issueList_);
  return true;
}

bool CSetupRun::AnyIssueWithoutFile(bool (*path_of)(const std::string&, const std::string&,
                                                    std::string&),
                                    const std::string& folder) const {
  std::error_code ec;
  return std::any_of(issueList_.begin(), issueList_.end(), [&](const std::string& code) {
    std::string path;
    return path_of(folder, code, path) && !fs::exists(path, ec);
  });
}

void CSetupRun::KeepListedIssues() {
  // The listing of this update's stage 1: kept in memory, or beside the
  // position for an update resumed by another process.
  std::vector<std::string> listing = issueStage_.CodeList();
  if (listing.empty() && !ReadCodeListFile(ResumeCodesPath(DatabaseFolder()), listing)) return;
  const std::set<std::string> listed(listing.begin(), listing.end());
  std::erase_if(issueList_, [&listed](const std::string& code) {
    return !IsOutsideQuickRange(code) && listed.count(code) == 0;
  });
}

bool CSetupRun::CheckResume(const CResumePosition& position, std::string& reason) {
  const std::int32_t index = position.resumeIndex;
  if (position.stage == kStageIssues) {
    // Stage 1 continues through its kept code list; without one (or with
    // one that is not the list of the position) it starts again at its
    // first code, which stores every issue again and loses nothing.
    std::vector<std::string> codes;
    if (ReadCodeListFile(ResumeCodesPath(DatabaseFolder()), codes) &&
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
  WorkerProgress progress;
  CRunContext run = Context(progress);
  if (!database_.Open(DatabaseFilePath()) || !LoadIssueList(run, issueList_)) {
    reason = "holds an interrupted setup whose database (stock.mdb) does not read; "
             "delete the folder to start afresh";
    return false;
  }
  if (update_) KeepListedIssues();
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
  CSettingsFile settings;
  if (!settings.Load(path)) return;
  settings.Section("Config")["IncludeMarkets"] = CValue(BuildIncludeMarkets());
  // A settings file that cannot be written keeps its old markets: the
  // charting application still opens the folder, whose data is complete,
  // so the run does not fail for it.
  (void)settings.Save();
}

bool CSetupRun::InitDatabase(WorkerProgress& progress) {
  const std::string path = DatabaseFilePath();
  // An update goes on with the database of the setup it brings forward.
  const bool fresh = progress.resume == 0 && !update_;
  if (fresh) {
    // The connection of an earlier run still points at the old file. The
    // old journal files go with it, so that the new database starts with
    // nothing of the old one beside it. The result is not checked: when the
    // file stays, creating the new one fails. Only files are deleted: a
    // folder in the way (even an empty one) is left for the user to see.
    database_.Close();
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) {
      if (!fs::is_directory(path + suffix, ec)) fs::remove(path + suffix, ec);
    }
    if (!database_.CreateDatabase(path)) {
      progress.SetError("データベースファイルを作成できませんでした");
      return false;
    }
  }
  if (!database_.Open(path)) {
    progress.SetError("データベースに接続できませんでした");
    return false;
  }
  if (!fresh) return true;
  if (!database_.CreateTables()) {
    progress.SetError("データベースのテーブルを作成できませんでした");
    return false;
  }
  if (!database_.RegisterPrivateBrands()) {
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
  // A fresh run throws the old database away, and with it the position
  // that pointed into it.
  if (position_.Keeps() && progress.resume == 0) RemoveResumeFiles(DatabaseFolder());
  // Nor is the folder a finished setup's any more until this run finishes.
  if (progress.resume == 0 && !update_) {
    std::error_code ec;
    fs::remove(SetupRecordPath(DatabaseFolder()), ec);
  }
  position_.Begin(DatabaseFolder(), RunPosition());
  RemoveLeftovers();
  if (!InitDatabase(progress)) return;

  market_->SetArchivePreference(options_->UseArchive());
  market_->SetCancelFlag(&progress.cancel);
  // The source lets go of the record's flag, and stops the downloads it
  // makes ahead, however the run ends.
  struct Release {
    CWebMarket& market;
    ~Release() {
      market.StopAhead();
      market.SetCancelFlag(nullptr);
    }
  } release{*market_};
  // The archive's year files of the stages to come download while the run
  // lists issues and works. A setup reads every year from the first one;
  // an update asks most issues only for days of this year, and the few it
  // asks about earlier years (a new issue's) fetch them as they go.
  {
    const bool prices = progress.resume == 0 || progress.stage <= kStagePrices;
    const bool margins = options_->MarginChosen();
    market_->FetchAhead(update_ ? reading_.date.year : firstDate_.year, prices, margins);
  }

  CRunContext run = Context(progress);
  const auto over_issues = [&](bool (*stage)(CRunContext&, const std::vector<std::string>&)) {
    return EnsureIssueList(run) && stage(run, issueList_);
  };
  // Each gate reads the resume flag afresh: the first stage that runs
  // clears it, and from then on every later gate is open.
  const auto stage_runs = [&progress](std::int32_t stage) {
    return progress.resume == 0 || progress.stage == stage;
  };
  if (stage_runs(kStageIssues) && !issueStage_.Run(run)) return;
  // An update asks an issue without a file (listed since the setup, or
  // without data so far) from the first year on, so it reads the earlier
  // years too: they download from here on, while the splits are stored
  // and the other issues are brought forward.
  if (update_ && options_->UseArchive() && EnsureIssueList(run)) {
    market_->FetchAhead(
        firstDate_.year,
        stage_runs(kStagePrices) && AnyIssueWithoutFile(BuildChartFilePath, DailyFolder()),
        options_->MarginChosen() && AnyIssueWithoutFile(BuildMarginFilePath, MarginFolder()));
  }
  if (stage_runs(kStageSplits) && options_->SplitsChosen() && !over_issues(RunSplitStage)) {
    return;
  }
  if (stage_runs(kStagePrices) && !over_issues(RunPriceStage)) return;
  // Resumed in the margin stage: the price stage's files are not taken on
  // trust, as the daily folder may have been lost since.
  if (progress.resume == 1 && progress.stage > kStagePrices && !over_issues(CheckPriceFiles)) {
    return;
  }
  if (stage_runs(kStageMargin) && options_->MarginChosen() && !over_issues(RunMarginStage)) {
    return;
  }

  WriteSettings();
  // The record is what a later update goes by: a folder without one is not
  // taken for a finished setup, so the run is not finished without it. The
  // position stays, and a resume writes it again.
  CSetupRecord record;
  record.choices = RunPosition().choices;
  record.firstDate = firstDate_;
  record.reading = reading_;
  record.gapTolerance = gapTolerance_;
  ClearFileError();
  if (!WriteSetupRecord(SetupRecordPath(DatabaseFolder()), record)) {
    progress.SetError("セットアップの記録ファイルを書き込めなかったので処理を中断します\n\n" +
                      LastFileError());
    return;
  }
  if (position_.Keeps()) RemoveResumeFiles(DatabaseFolder());
  progress.stage = kStageFinished;
  market_->PostUsageLog("SetupComplete");
}

CResumePosition CSetupRun::RunPosition() const {
  CResumePosition position;
  position.choices.etf = options_->IsMarketChecked(CRunOptions::kEtf);
  position.choices.reit = options_->IsMarketChecked(CRunOptions::kReit);
  position.choices.prime = options_->IsMarketChecked(CRunOptions::kPrime);
  position.choices.standard = options_->IsMarketChecked(CRunOptions::kStandard);
  position.choices.growth = options_->IsMarketChecked(CRunOptions::kGrowth);
  position.choices.otherMarkets = options_->IsMarketChecked(CRunOptions::kOtherMarkets);
  position.choices.splits = options_->SplitsChosen();
  position.choices.margin = options_->MarginChosen();
  position.choices.useArchive = options_->UseArchive();
  position.firstDate = firstDate_;
  position.reading = reading_;
  position.update = update_;
  return position;
}
