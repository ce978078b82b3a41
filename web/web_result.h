#ifndef TICKORA_WEB_WEB_RESULT_H_
#define TICKORA_WEB_WEB_RESULT_H_

#include <cstdint>
#include <string>

// Result codes of the page readers (CWebStock, CWebHistory, CWebExchange,
// CWebFutures). 0 or more is success; -1 to -599 is minus an HTTP status and
// -1000 and below (down to the client's last code) a failure of the HTTP
// client, both passed on from CHttpClient unchanged; the codes below are
// the readers' own.
enum : std::int32_t {
  // The page did not have the expected structure: cut short, or its
  // layout changed.
  kWebErrorPage = -10000,
  // A built-in issue asked of the portal readers has no portal page.
  kWebErrorNoPortalPage = -10001,
  // The issue page was read, but it names a market that no longer exists.
  kWebErrorRetiredMarket = -10033,
};

// The Japanese text (CP932) of a page reader's result code:
//   0 or more    "成功"
//   -599 to -1   "HTTPサーバーがステータスコード<status>を返しました"
//   -10000       the text for a cut or changed page
//   other        "不明なエラー(<code>)が発生しました"
std::string GetWebMessage(std::int32_t result);

#endif  // TICKORA_WEB_WEB_RESULT_H_
