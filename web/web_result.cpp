#include "web/web_result.h"

#include "support/text.h"

std::string GetWebMessage(std::int32_t result) {
  if (result >= 0) return "成功";
  if (result >= -599) {
    return StringFormat("HTTPサーバーがステータスコード%dを返しました", -result);
  }
  if (result == kWebErrorPage) {
    return "接続が途中で切断されたか、ダウンロード先サイトのWebページ仕様が変更された可能性があります。";
  }
  return StringFormat("不明なエラー(%d)が発生しました", result);
}
