#include "series/month_chart.h"

bool CMonthChart::Find(uint32_t date, int32_t& index, int32_t mode) const {
  return CChart::Find(MonthKey(date), index, mode);
}

CDate CMonthChart::NextDate(uint32_t date) const {
  CDate d;
  if (d.FromNumber(date)) d.FirstBusinessDayOfNextMonth();
  return d;
}

CDate CMonthChart::PrevDate(uint32_t date) const {
  CDate d;
  if (d.FromNumber(date)) d.FirstBusinessDayOfPrevMonth();
  return d;
}

std::string CMonthChart::UnitName() const { return "月"; }
