#ifndef TICKORA_WEB_PRICE_DATES_H_
#define TICKORA_WEB_PRICE_DATES_H_

#include "support/date.h"
#include "web/local_clock.h"

// The dates that the price readers put on what they read, from the local
// date and time. A quote page shows the latest figures without a usable
// date, so the reader dates them itself; a history page may already hold a
// row for a day whose session has not closed.

// The last day a stock history delivers: today from 15:00 on, yesterday
// before.
CDate HistoryLastDay(const CLocalTime& now);

// The date of a stock quote: today from 09:00 on, yesterday before, then
// back to the nearest trading day.
CDate StockQuoteDate(const CLocalTime& now);

// The date of a portal quote: today from 09:00 on, yesterday before; then
// back to the nearest trading day for an index, or to the nearest Monday
// to Friday for a currency pair (currencies trade on holidays).
CDate PortalQuoteDate(const CLocalTime& now, bool currency);

// The date of the future's quote: today from 08:45 on when today is a
// trading day, else the trading day before today.
CDate FuturesQuoteDate(const CLocalTime& now);

// The date of the Dow's quote: today from 22:00 on (New York has opened),
// else yesterday; then back to the nearest Monday to Friday.
CDate DowQuoteDate(const CLocalTime& now);

#endif  // TICKORA_WEB_PRICE_DATES_H_
