#include "series/week_chart.h"

bool CWeekChart::Find(uint32_t date, int32_t& index, int32_t mode) const {
  return CChart::Find(WeekKey(date), index, mode);
}

CDate CWeekChart::NextDate(uint32_t date) const {
  CDate d;
  if (d.FromNumber(date)) d.FirstBusinessDayOfNextWeek();
  return d;
}

CDate CWeekChart::PrevDate(uint32_t date) const {
  CDate d;
  if (d.FromNumber(date)) d.FirstBusinessDayOfPrevWeek();
  return d;
}

std::string CWeekChart::UnitName() const { return "週"; }
