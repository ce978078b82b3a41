#include "setup/issue_list.h"

#include "db/brand_record.h"

namespace {

bool Chosen(const CRunOptions& options, const CBrandRecord& record) {
  switch (record.kind) {
    case kKindIndex:
    case kKindCurrency:
      return true;
    case kKindEtf:
      return options.IsMarketChecked(CRunOptions::kEtf);
    case kKindReit:
      return options.IsMarketChecked(CRunOptions::kReit);
    case kKindStock:
      if (record.market == "東証プライム") return options.IsMarketChecked(CRunOptions::kPrime);
      if (record.market == "東証スタンダード") {
        return options.IsMarketChecked(CRunOptions::kStandard);
      }
      if (record.market == "東証グロース") return options.IsMarketChecked(CRunOptions::kGrowth);
      return options.IsMarketChecked(CRunOptions::kOtherMarkets);
    default:
      return false;
  }
}

}  // namespace

bool LoadIssueList(CRunContext& run, std::vector<std::string>& list) {
  list.clear();
  std::vector<std::string> codes;
  if (!run.database.GetCodesFrom(codes, "")) {
    run.progress.SetError("データベースから銘柄リストを読み込めませんでした");
    return false;
  }
  for (const std::string& code : codes) {
    CBrandRecord record;
    if (!run.database.GetBrand(code, record)) {
      list.clear();
      run.progress.SetError("データベースから銘柄データを読み込めませんでした");
      return false;
    }
    if (Chosen(run.options, record)) list.push_back(code);
  }
  return true;
}
