#include "tools/market-sim/sim_hostile.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "series/archive_file.h"

namespace {

void PutU32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void PutF32(std::string& bytes, std::size_t at, float value) {
  std::uint32_t raw = 0;
  std::memcpy(&raw, &value, 4);
  PutU32(bytes, at, raw);
}

void PutF64(std::string& bytes, std::size_t at, double value) {
  std::uint64_t raw = 0;
  std::memcpy(&raw, &value, 8);
  for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>(raw >> (8 * i));
}

std::uint32_t GetU32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
}

// One record: the code with its zero byte, then the values.
struct Record {
  std::string code;    // with the zero byte
  std::string values;  // valueBytes bytes, the date first
};

// The records of an archive file of the current layout, in file order.
std::vector<Record> Records(const std::string& file, std::size_t valueBytes) {
  std::vector<Record> records;
  std::size_t at = kArchiveHeaderBytes;
  while (at < file.size()) {
    const std::size_t zero = file.find('\0', at);
    if (zero == std::string::npos || zero + 1 + valueBytes > file.size()) break;
    records.push_back({file.substr(at, zero + 1 - at), file.substr(zero + 1, valueBytes)});
    at = zero + 1 + valueBytes;
  }
  return records;
}

// Records no file may hold, made from `model`.
std::vector<std::string> BadValues(const std::string& model, std::size_t valueBytes) {
  const std::uint32_t date = GetU32(model, 0);
  const std::uint32_t year = date / 10000u;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<std::string> bad;
  for (const std::uint32_t day :
       {0u, 99999999u, year * 10000u + 1301u, year * 10000u + 230u, 20991231u}) {
    bad.push_back(model);
    PutU32(bad.back(), 0, day);
  }
  bad.push_back(model);  // the first record again: out of order
  for (const double value : {nan, inf, -1.0}) {
    bad.push_back(model);
    if (valueBytes == kArchivePriceValueBytes) {
      PutF32(bad.back(), 16, static_cast<float>(value));  // close
      PutF32(bad.back(), 20, static_cast<float>(value));  // volume
    } else {
      PutF64(bad.back(), 4, value);  // buy balance
    }
  }
  return bad;
}

}  // namespace

bool Unpack(const std::string& gzip, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 16) != Z_OK) return false;
  out.clear();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  z.avail_in = static_cast<uInt>(gzip.size());
  char piece[1 << 16];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(piece);
    z.avail_out = sizeof piece;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(piece, sizeof piece - z.avail_out);
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

std::string WithBadRecords(const std::string& file, std::size_t valueBytes) {
  std::string out = file.substr(0, kArchiveHeaderBytes);
  const std::vector<Record> records = Records(file, valueBytes);
  for (std::size_t i = 0; i < records.size(); ++i) {
    out += records[i].code + records[i].values;
    const bool last = i + 1 == records.size() || records[i + 1].code != records[i].code;
    if (!last) continue;
    std::size_t first = i;
    while (first > 0 && records[first - 1].code == records[i].code) --first;
    for (const std::string& bad : BadValues(records[first].values, valueBytes)) {
      out += records[i].code + bad;
    }
  }
  return out;
}

std::string WithNonFiniteNumbers(const std::string& file, bool brand) {
  std::string out = file;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::size_t at = kArchiveHeaderBytes;
  // Past a text and its zero byte; npos when the file ends first.
  const auto skipText = [&out](std::size_t from) {
    const std::size_t zero = out.find('\0', from);
    return zero == std::string::npos ? zero : zero + 1;
  };
  while (at < out.size()) {
    at = skipText(at);  // the code
    if (brand) {
      if (at == std::string::npos || at + 4 > out.size()) break;
      at += 4;  // kind
      for (int text = 0; text < 3 && at != std::string::npos; ++text) at = skipText(at);
      if (at == std::string::npos || at + 8 + 32 > out.size()) break;
      at += 8;  // unit, lendable
      PutF64(out, at + 8, nan);  // dividend
      PutF64(out, at + 16, std::numeric_limits<double>::infinity());  // EPS
      at += 32;
    } else {
      if (at == std::string::npos || at + 8 > out.size()) break;
      PutF32(out, at + 4, static_cast<float>(nan));  // ratio
      at += 8;
    }
  }
  return out;
}

std::string WithAlternatingCodes(const std::string& file, std::size_t valueBytes,
                                 std::size_t count) {
  std::string out = file.substr(0, kArchiveHeaderBytes);
  const std::vector<Record> records = Records(file, valueBytes);
  std::vector<const Record*> two;
  for (const Record& record : records) {
    if (two.empty() || (two.size() == 1 && record.code != two[0]->code)) two.push_back(&record);
  }
  if (two.size() < 2) return file;
  const std::string pair = two[0]->code + two[0]->values + two[1]->code + two[1]->values;
  out.reserve(out.size() + pair.size() * (count / 2 + 1));
  for (std::size_t i = 0; i < count; i += 2) out += pair;
  return out;
}

struct CGzipStream::Impl {
  z_stream z{};
  std::string head;
  std::uint64_t zeros = 0;
  bool endless = false;
  bool headSent = false;
  bool ended = false;
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
};

CGzipStream::CGzipStream(std::string head, std::uint64_t zeros, bool endless)
    : impl_(std::make_unique<Impl>()) {
  impl_->head = std::move(head);
  impl_->zeros = zeros;
  impl_->endless = endless;
  // Stored blocks for the endless stream (its random bytes do not pack),
  // the fastest level for the zeros.
  deflateInit2(&impl_->z, endless ? Z_NO_COMPRESSION : Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8,
               Z_DEFAULT_STRATEGY);
}

CGzipStream::~CGzipStream() { deflateEnd(&impl_->z); }

std::string CGzipStream::Next() {
  Impl& s = *impl_;
  if (s.ended) return std::string();
  std::string input;
  int flush = Z_NO_FLUSH;
  if (!s.headSent) {
    input = s.head;
    s.headSent = true;
  } else if (s.endless) {
    input.resize(1 << 18);
    for (char& c : input) {
      s.state ^= s.state << 13;
      s.state ^= s.state >> 7;
      s.state ^= s.state << 17;
      c = static_cast<char>(s.state);
    }
  } else {
    const std::uint64_t take = std::min<std::uint64_t>(s.zeros, 1u << 22);
    input.assign(static_cast<std::size_t>(take), '\0');
    s.zeros -= take;
    if (s.zeros == 0) flush = Z_FINISH;
  }
  std::string out(deflateBound(&s.z, input.size()) + 64, '\0');
  s.z.next_in = reinterpret_cast<Bytef*>(input.data());
  s.z.avail_in = static_cast<uInt>(input.size());
  s.z.next_out = reinterpret_cast<Bytef*>(out.data());
  s.z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&s.z, flush == Z_FINISH ? Z_FINISH : Z_SYNC_FLUSH);
  out.resize(out.size() - s.z.avail_out);
  if (rc == Z_STREAM_END) s.ended = true;
  return out;
}
