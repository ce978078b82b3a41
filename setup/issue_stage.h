#ifndef TICKORA_SETUP_ISSUE_STAGE_H_
#define TICKORA_SETUP_ISSUE_STAGE_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "setup/run_context.h"

// CIssueStage is the first stage of a run: it lists the market, checks
// which codes exist and stores one 銘柄 row for each issue found. Progress
// counts codes.
//
// The object keeps the code list it worked on for as long as it lives, so
// that a resume in the same process goes on through the same list; a run
// that keeps its position keeps the list beside it in the database folder
// too ("setup-resume-codes.txt"), for a resume in another process. It also
// counts the codes that broke the code rule.
class CIssueStage {
 public:
  CIssueStage() = default;
  CIssueStage(const CIssueStage&) = delete;
  CIssueStage& operator=(const CIssueStage&) = delete;

  // Runs the stage. True when every code of the list was examined; false
  // when the stage is to stop: a cancel (no error text), or a failure, whose
  // error text is then set.
  [[nodiscard]] bool Run(CRunContext& run);

  // Pause between two issue list pages, 100 ms unless changed.
  void SetListPagePause(std::int32_t milliseconds) { listPagePauseMs_ = milliseconds; }

  // The code list the stage worked on last: the listing (or the fixed list
  // when it gave nothing); empty before the stage ran in this object.
  const std::vector<std::string>& CodeList() const { return codeList_; }

  // Issue codes from the list pages or the existence check that broke the
  // code rule (support/issue_code.h): left out, never stored.
  std::size_t RejectedCodes() const { return rejectedCodes_.size(); }

  // The fixed code list used when the listing gives nothing: "1300" to
  // "9999" in ascending order.
  static std::vector<std::string> FixedCodeList();

 private:
  // The candidate codes: every code of the list pages, or the fixed list
  // when no page gave any. `status` is negative when a page after the first
  // failed other than by not being there (404): the listing is then
  // incomplete and the codes are not to be used.
  std::vector<std::string> BuildCodeList(CWebMarket& market, std::int32_t& status);
  // For a resumed stage: true when the code list it worked on is at hand
  // (kept in memory, or in the folder's code list file and matching the
  // position), and then in codeList_.
  [[nodiscard]] bool TakeKeptCodeList(CRunContext& run);
  // True when `code` keeps the code rule; otherwise notes it as rejected.
  [[nodiscard]] bool Acceptable(const std::string& code);

  std::int32_t listPagePauseMs_ = 100;
  std::vector<std::string> codeList_;
  std::set<std::string> rejectedCodes_;
};

#endif  // TICKORA_SETUP_ISSUE_STAGE_H_
