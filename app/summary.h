#ifndef TICKORA_APP_SUMMARY_H_
#define TICKORA_APP_SUMMARY_H_

#include <QString>

// The choices the summary page lists, as read from the pages.
struct CSummaryChoices {
  QString folder;
  bool etf = false;
  bool reit = false;
  bool prime = false;
  bool standard = false;
  bool growth = false;
  bool otherMarkets = false;
  int firstYear = 0;
  bool splits = false;
  bool margin = false;
  bool useArchive = false;
};

// The heading above the summary.
QString SummaryHeading();

// The summary text, one section per choice, every line ending in "\r\n".
QString BuildSummary(const CSummaryChoices& choices);

#endif  // TICKORA_APP_SUMMARY_H_
