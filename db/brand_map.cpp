#include "db/brand_map.h"

#include <algorithm>

#include "db/field_file.h"
#include "support/cp932.h"
#include "support/text.h"

// The market and industry names below are compared as two-byte CP932
// characters; this fails to compile when the literals are not CP932.
static_assert(sizeof("東") == 3, "db is compiled with CP932 string literals");

namespace {

constexpr float kFileVersion = 2.0f;
constexpr std::size_t kVersion1CodeBytes = 4;

// A version 1 code is 4 bytes. Decision: the code text is those bytes up to
// the first NUL, with trailing blanks removed, so that a three-digit code
// padded with NUL or blanks reads as its three digits.
std::string Version1Code(const unsigned char* bytes) {
  std::size_t length = 0;
  while (length < kVersion1CodeBytes && bytes[length] != 0) ++length;
  while (length > 0 && bytes[length - 1] == ' ') --length;
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

// Reads one record; false when it cannot be read whole.
bool ReadRecord(CFieldReader& reader, bool version1, CBrandRecord& record) {
  if (version1) {
    unsigned char code[kVersion1CodeBytes];
    if (!reader.ReadBytes(code, sizeof(code))) return false;
    record.code = Version1Code(code);
  } else if (!reader.ReadText(record.code)) {
    return false;
  }
  return reader.ReadI32(record.kind) && reader.ReadText(record.market) &&
         reader.ReadText(record.industry) && reader.ReadText(record.name) &&
         reader.ReadU32(record.unit) && reader.ReadU32(record.lendable) &&
         reader.ReadF64(record.sharesOutstanding) &&
         reader.ReadF64(record.dividend) && reader.ReadF64(record.eps) &&
         reader.ReadF64(record.bps);
}

bool WriteRecord(CFieldWriter& writer, const CBrandRecord& record) {
  return writer.WriteText(record.code) && writer.WriteI32(record.kind) &&
         writer.WriteText(record.market) && writer.WriteText(record.industry) &&
         writer.WriteText(record.name) && writer.WriteU32(record.unit) &&
         writer.WriteU32(record.lendable) &&
         writer.WriteF64(record.sharesOutstanding) &&
         writer.WriteF64(record.dividend) && writer.WriteF64(record.eps) &&
         writer.WriteF64(record.bps);
}

bool HasNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

int MarketRank(const std::string& name) {
  static const char* const kFirstCharacters[] = {"東", "マ", "名", "札", "福"};
  if (name.size() < 2) return 10;
  for (int i = 0; i < 5; ++i) {
    if (name.compare(0, 2, kFirstCharacters[i]) == 0) return i + 1;
  }
  return 10;
}

}  // namespace

bool CBrandMap::Load(const std::string& path) {
  records_.clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;

  CFieldReader reader(file);
  float version;
  std::uint32_t written;
  if (!reader.ReadF32(version) || !reader.ReadU32(written)) {
    std::fclose(file);
    return false;
  }
  const bool version1 = IsOldFormatVersion(version);

  CBrandRecord record;
  while (ReadRecord(reader, version1, record)) {
    records_[record.code] = record;
  }
  std::fclose(file);
  return true;
}

bool CBrandMap::Save(const std::string& path) const {
  return Save(path, CDate::Today());
}

bool CBrandMap::Save(const std::string& path, const CDate& written) const {
  for (const auto& [code, record] : records_) {
    if (HasNul(record.market) || HasNul(record.industry) ||
        HasNul(record.name)) {
      return false;
    }
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;

  CFieldWriter writer(file);
  bool ok = writer.WriteF32(kFileVersion) && writer.WriteU32(written.ToNumber());
  for (auto it = records_.begin(); ok && it != records_.end(); ++it) {
    ok = WriteRecord(writer, it->second);
  }
  // A buffered write can fail only when the buffer is flushed.
  if (std::fclose(file) != 0) ok = false;
  return ok;
}

void CBrandMap::Dump(bool brief, std::FILE* out) const {
  for (const auto& [code, record] : records_) {
    std::string text = "[" + record.code + ":" + std::to_string(record.kind) +
                       ":" + record.name + ":" + record.market + ":" +
                       record.industry + "]\n";
    if (!brief) {
      text += StringFormat(" 貸借=%u\n", record.lendable);
      text += StringFormat(" 単元=%u\n", record.unit);
      text += StringFormat(" 配当=%f\n", record.dividend);
      text += StringFormat(" 発行済=%f\n", record.sharesOutstanding);
      text += StringFormat(" EPS=%f\n", record.eps);
      text += StringFormat(" BPS=%f\n", record.bps);
    }
    PrintCp932(out, text);
  }
  PrintCp932(out, StringFormat("銘柄数=%zu\n", records_.size()));
}

bool CBrandMap::Insert(const CBrandRecord& record) {
  if (record.code.size() > kMaxCodeBytes || HasNul(record.code)) return false;
  records_[record.code] = record;
  return true;
}

const CBrandRecord* CBrandMap::Find(const std::string& code) const {
  auto it = records_.find(code);
  return it == records_.end() ? nullptr : &it->second;
}

bool CBrandMap::Erase(const std::string& code) {
  return records_.erase(code) > 0;
}

bool CBrandMap::MarketBefore(const std::string& a, const std::string& b) {
  int rank_a = MarketRank(a);
  int rank_b = MarketRank(b);
  if (rank_a != rank_b) return rank_a < rank_b;
  return a < b;
}

void CBrandMap::SortMarkets(std::vector<std::string>& markets) {
  std::sort(markets.begin(), markets.end(), MarketBefore);
}

bool CBrandMap::IndustryBefore(const std::string& a, const std::string& b) {
  static const std::string kNoIndustry = "業種なし";
  if (a == kNoIndustry) return false;
  if (b == kNoIndustry) return true;
  return a > b;
}

void CBrandMap::SortIndustries(std::vector<std::string>& industries) {
  std::sort(industries.begin(), industries.end(), IndustryBefore);
}
