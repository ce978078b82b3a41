#include "db/brand_record.h"

std::string KindName(std::int32_t kind) {
  switch (kind) {
    case kKindNone: return "なし";
    case kKindStock: return "株";
    case kKindEtf: return "ETF";
    case kKindIndex: return "指数";
    case kKindCurrency: return "為替";
    case kKindFutures: return "先物";
    case kKindReit: return "REIT";
    default: return "(不明)";
  }
}
