#include "setup/issue_stage.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <thread>
#include <utility>

#include "db/brand_record.h"
#include "setup/resume_file.h"
#include "support/issue_code.h"
#include "support/text.h"

namespace {

constexpr std::int32_t kMaxListPages = 100;
constexpr int kFixedFirstCode = 1300;
constexpr int kFixedLastCode = 9999;

}  // namespace

std::vector<std::string> CIssueStage::FixedCodeList() {
  std::vector<std::string> codes;
  codes.reserve(kFixedLastCode - kFixedFirstCode + 1);
  for (int code = kFixedFirstCode; code <= kFixedLastCode; ++code) {
    codes.push_back(std::to_string(code));
  }
  return codes;
}

std::vector<std::string> CIssueStage::BuildCodeList(CWebMarket& market, std::int32_t& status) {
  std::vector<std::string> codes;
  bool page_gave_codes = false;
  status = 0;
  for (std::int32_t page = 1; page <= kMaxListPages; ++page) {
    std::vector<std::string> page_codes;
    const std::int32_t result = market.GetBrandList(page, page_codes);
    // A page that is not there, or holds no list, ends the listing. A page
    // after the first that fails in any other way (a server error, a cut or
    // changed page, a cancel) would end it too early: every issue of the
    // later pages would be missing from the database and from every later
    // stage without a word. Such a listing is refused; the stage stops and a
    // resume reads the pages again. A failing first page still falls back
    // to the fixed list, which holds every four-digit code.
    if (result < 0 && page_gave_codes && result != -404) {
      status = result;
      return {};
    }
    if (result < 0 || page_codes.empty()) break;
    for (const std::string& code : page_codes) {
      if (Acceptable(code)) codes.push_back(code);
    }
    page_gave_codes = true;
    if (listPagePauseMs_ > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(listPagePauseMs_));
    }
  }
  if (!page_gave_codes || codes.empty()) return FixedCodeList();
  return codes;
}

bool CIssueStage::Acceptable(const std::string& code) {
  if (IsAcceptableIssueCode(code)) return true;
  rejectedCodes_.insert(code);
  return false;
}

bool CIssueStage::TakeKeptCodeList(CRunContext& run) {
  std::int32_t count = 0;
  std::uint32_t hash = 0;
  const bool expected = run.position.TakeExpected(count, hash);
  if (run.progress.resume != 1) return false;
  // The same process resumes with the list it worked on; a new process
  // with the list kept beside the position, when it is that list.
  const auto matches = [&](const std::vector<std::string>& codes) {
    return static_cast<std::int32_t>(codes.size()) == count && HashIssueList(codes) == hash;
  };
  if (!codeList_.empty()) return !expected || matches(codeList_);
  if (!expected || !run.position.Keeps()) return false;
  std::vector<std::string> kept;
  if (!ReadCodeListFile(ResumeCodesPath(run.DatabaseFolder()), kept) || !matches(kept)) {
    return false;
  }
  codeList_ = std::move(kept);
  return true;
}

bool CIssueStage::Run(CRunContext& run) {
  WorkerProgress& progress = run.progress;
  CWebMarket& market = run.market;
  // A resumed stage goes on through the code list it worked on: rebuilt
  // from the pages, the list could be another (the fixed one after a failing
  // first page, then the real listing), and the position would point into
  // it, so that the codes in between were never stored. Without that list
  // the stage starts again at its first code, which stores every issue
  // again as an update.
  if (!TakeKeptCodeList(run)) {
    progress.resume = 0;
    progress.resumeIndex = 0;
    std::int32_t list_status = 0;
    codeList_ = BuildCodeList(market, list_status);
    if (list_status < 0) {
      run.position.Save(progress, kStageIssues, progress.resumeIndex);
      if (Cancelled(list_status, progress)) return false;
      progress.SetError(
          std::string("ダウンロード(銘柄一覧)に失敗したので処理を中断します。\n\n") +
          market.GetMessage(list_status));
      return false;
    }
    // Kept beside the position, so that another process can resume with
    // it. When it cannot be written, a resume starts the stage again.
    if (run.position.Keeps()) {
      (void)WriteCodeListFile(ResumeCodesPath(run.DatabaseFolder()), codeList_);
    }
  }
  const std::vector<std::string>& codes = codeList_;
  run.position.SetList(codes);
  const std::int32_t count = static_cast<std::int32_t>(codes.size());
  std::int32_t first = 0;
  if (!CRunPosition::BeginStage(progress, count, first)) return false;
  progress.total = count - first;
  if (first >= count) {
    progress.done = progress.total.load();
    return true;
  }

  std::map<std::string, std::int32_t> seen;
  std::int32_t index = first;
  for (;;) {
    run.position.Save(progress, kStageIssues, index);
    if (progress.cancel) return false;

    CQuoteItems found;
    const std::int32_t before = index;
    const std::int32_t status = market.GetPriceLast(index, codes, found);
    if (status < 0) {
      if (Cancelled(status, progress)) return false;
      progress.SetError(
          std::string("ダウンロード(銘柄存在チェック)に失敗したので処理を中断します。\n\n") +
          market.GetMessage(status));
      return false;
    }
    // A source that examined no code would hold the loop on one index for
    // ever; it is taken as having examined the one at hand.
    if (index <= before) index = before + 1;

    std::stable_sort(found.begin(), found.end(),
                     [](const CQuoteItem& a, const CQuoteItem& b) { return a.code < b.code; });
    const std::int32_t batch = static_cast<std::int32_t>(found.size());
    for (std::int32_t pos = 0; pos < batch; ++pos) {
      if (progress.cancel) return false;
      const std::string& code = found[pos].code;
      if (!Acceptable(code) || seen[code]++ > 0) continue;

      CBrandRecord record;
      const std::int32_t detail = market.GetBrand(code, record);
      if (detail < 0) {
        if (Cancelled(detail, progress)) return false;
        progress.SetError(
            StringFormat("ダウンロード(銘柄コード:%s)に失敗したので処理を中断します。\n\n",
                         code.c_str()) +
            market.GetMessage(detail));
        return false;
      }
      // The row's key is the code that was asked for, whatever the page
      // or file said; a number that is not finite is stored as 0 (a
      // statement cannot hold it, and 0 is what an absent figure reads as).
      record.code = code;
      for (double* value : {&record.sharesOutstanding, &record.dividend, &record.eps, &record.bps}) {
        if (!std::isfinite(*value)) *value = 0.0;
      }
      if (!run.database.WriteBrand(record)) {
        progress.SetError(StringFormat(
            "銘柄コード %s の情報のデータベースへの書き込みに失敗したので処理を中断します\n%s",
            code.c_str(), run.DatabaseErrorText().c_str()));
        return false;
      }
      progress.SetStatus(StringFormat(
          "銘柄コード %s の銘柄データをダウンロードしました", code.c_str()));
      progress.done = (index - first) - (batch - pos) + 1;
    }
    if (index >= count) {
      progress.done = progress.total.load();
      return true;
    }
  }
}
