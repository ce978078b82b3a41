#include "app/summary.h"

QString SummaryHeading() {
  return QStringLiteral(
      "以下の内容でダウンロードを開始します。\nよろしければ次へをクリックしてください。");
}

QString BuildSummary(const CSummaryChoices& c) {
  QString text;
  text += QStringLiteral("[DBフォルダ]\r\n  ") + c.folder +
          QStringLiteral("\r\n\r\n");

  text += QStringLiteral("[ダウンロードする銘柄種類]\r\n");
  // The last line reads "その他の市場", not the tree's "その他市場".
  const struct {
    bool checked;
    const char* line;
  } kinds[] = {
      {c.etf, "  ETF\r\n"},
      {c.reit, "  REIT\r\n"},
      {c.prime, "  東証プライム\r\n"},
      {c.standard, "  東証スタンダード\r\n"},
      {c.growth, "  東証グロース\r\n"},
      {c.otherMarkets, "  その他の市場\r\n"},
  };
  for (const auto& kind : kinds) {
    if (kind.checked) text += QString::fromUtf8(kind.line);
  }
  text += QStringLiteral("\r\n");

  text += QStringLiteral("[時系列データをダウンロードする期間]\r\n");
  text += QStringLiteral("  %1年～\r\n").arg(c.firstYear);
  text += QStringLiteral("\r\n");

  text += QStringLiteral("[追加でダウンロードする情報]\r\n");
  if (c.splits) text += QStringLiteral("  株式分割データ\r\n");
  if (c.margin) text += QStringLiteral("  信用残データ\r\n");
  text += QStringLiteral("\r\n");

  text += QStringLiteral("[Webアーカイブ]\r\n");
  text += c.useArchive ? QStringLiteral("  優先的に利用する\r\n")
                       : QStringLiteral("  利用しない\r\n");
  text += QStringLiteral("\r\n");
  return text;
}
