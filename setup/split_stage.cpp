#include "setup/split_stage.h"

#include <cmath>

#include "db/divide_record.h"
#include "series/record_checks.h"
#include "support/text.h"

bool RunSplitStage(CRunContext& run, const std::vector<std::string>& issues) {
  WorkerProgress& progress = run.progress;
  const std::int32_t count = static_cast<std::int32_t>(issues.size());
  std::int32_t first = 0;
  if (!CRunPosition::BeginStage(progress, count, first)) return false;
  progress.total = count - first;

  for (std::int32_t i = first; i < count; ++i) {
    run.position.Save(progress, kStageSplits, i);
    if (progress.cancel) return false;
    const std::string& code = issues[i];

    std::vector<CDivideRecord> splits;
    const std::int32_t status = run.market.GetDivide(code, splits);
    if (status < 0) {
      if (Cancelled(status, progress)) return false;
      progress.SetError("ダウンロードに失敗したので処理を中断します。\n\n" +
                        run.market.GetMessage(status));
      return false;
    }
    for (const CDivideRecord& split : splits) {
      // A split on a day that does not exist, or whose ratio is not a
      // positive number, would turn every adjusted price into nonsense.
      if (!IsCalendarDate(split.date.ToNumber()) || !std::isfinite(split.ratio) ||
          split.ratio <= 0.0) {
        ++run.refusedRecords;
        continue;
      }
      if (!run.database.WriteDivide(code, split)) {
        progress.SetError(StringFormat(
            "銘柄コード%sの分割情報のDBへの書き込みに失敗したので処理を中断します\n%s",
            code.c_str(), run.DatabaseErrorText().c_str()));
        return false;
      }
    }
    progress.SetStatus(StringFormat(
        "銘柄コード %s(%d/%d個目) の銘柄の分割データをDBに書き込みました",
        code.c_str(), i + 1, count));
    progress.done = i - first + 1;
  }
  return true;
}
