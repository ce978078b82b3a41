#include "web/price_dates.h"

namespace {

// Today, or yesterday before `hour` o'clock.
CDate TodayFrom(const CLocalTime& now, int hour) {
  CDate date = now.date;
  if (now.hour < hour) date.PrevDay();
  return date;
}

// Steps back while the day is no trading day. The empty date (and any date
// the calendar cannot move) ends the walk rather than looping.
void BackToBusinessDay(CDate& date) {
  for (int guard = 0; guard < 400 && !date.IsBusinessDay(); ++guard) {
    const CDate before = date;
    date.PrevDay();
    if (date == before) break;
  }
}

void BackToWeekday(CDate& date) {
  for (int guard = 0; guard < 7 && date.IsWeekend(); ++guard) date.PrevDay();
}

}  // namespace

CDate HistoryLastDay(const CLocalTime& now) { return TodayFrom(now, 15); }

CDate StockQuoteDate(const CLocalTime& now) {
  CDate date = TodayFrom(now, 9);
  BackToBusinessDay(date);
  return date;
}

CDate PortalQuoteDate(const CLocalTime& now, bool currency) {
  CDate date = TodayFrom(now, 9);
  if (currency) {
    BackToWeekday(date);
  } else {
    BackToBusinessDay(date);
  }
  return date;
}

CDate FuturesQuoteDate(const CLocalTime& now) {
  const bool open = now.hour > 8 || (now.hour == 8 && now.minute >= 45);
  CDate date = now.date;
  if (open && date.IsBusinessDay()) return date;
  date.PrevBusinessDay();
  return date;
}

CDate DowQuoteDate(const CLocalTime& now) {
  CDate date = TodayFrom(now, 22);
  BackToWeekday(date);
  return date;
}
