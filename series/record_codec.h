#ifndef TICKORA_SERIES_RECORD_CODEC_H_
#define TICKORA_SERIES_RECORD_CODEC_H_

#include <cstddef>

#include "series/day_record.h"
#include "series/margin_record.h"
#include "series/record_file.h"

// The two record kinds that chart, margin and archive files share, and
// their one codec each. Every field is little-endian.
//
// A bar, 24 bytes:     uint32 date number, float32 open, high, low, close,
//                      volume.
// A margin entry, 20:  uint32 date number, float64 buy, float64 sell.
//
// Decoding widens the values to float64 and leaves the raw close 0; the
// date number is kept field by field as stored, valid date or not (year,
// month and day below 100 give the same number back on encoding).
// Encoding narrows a bar's values to float32.

inline constexpr size_t kBarBytes = 24;
inline constexpr size_t kMarginEntryBytes = 20;

inline CDayRecord DecodeBar(const unsigned char* at) {
  CDayRecord bar;
  bar.SetDateNumber(GetLittleU32(at));
  bar.open = GetLittleF32(at + 4);
  bar.high = GetLittleF32(at + 8);
  bar.low = GetLittleF32(at + 12);
  bar.close = GetLittleF32(at + 16);
  bar.volume = GetLittleF32(at + 20);
  return bar;
}

inline void EncodeBar(const CDayRecord& bar, unsigned char* at) {
  PutLittleU32(at, bar.DateNumber());
  PutLittleF32(at + 4, static_cast<float>(bar.open));
  PutLittleF32(at + 8, static_cast<float>(bar.high));
  PutLittleF32(at + 12, static_cast<float>(bar.low));
  PutLittleF32(at + 16, static_cast<float>(bar.close));
  PutLittleF32(at + 20, static_cast<float>(bar.volume));
}

inline CMarginRecord DecodeMarginEntry(const unsigned char* at) {
  const uint32_t number = GetLittleU32(at);
  CMarginRecord entry;
  entry.date = CDate(number / 10000u, number / 100u % 100u, number % 100u);
  entry.buy = GetLittleF64(at + 4);
  entry.sell = GetLittleF64(at + 12);
  return entry;
}

inline void EncodeMarginEntry(const CMarginRecord& entry, unsigned char* at) {
  PutLittleU32(at, entry.date.ToNumber());
  PutLittleF64(at + 4, entry.buy);
  PutLittleF64(at + 12, entry.sell);
}

#endif  // TICKORA_SERIES_RECORD_CODEC_H_
