#include "series/chart_file.h"

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "series/chart.h"
#include "series/issue_file_path.h"
#include "series/record_file.h"

namespace {

constexpr size_t kRecordBytes = 24;

CDayRecord DecodeBar(const unsigned char* at) {
  CDayRecord bar;
  bar.SetDateNumber(GetLittleU32(at));
  bar.open = GetLittleF32(at + 4);
  bar.high = GetLittleF32(at + 8);
  bar.low = GetLittleF32(at + 12);
  bar.close = GetLittleF32(at + 16);
  bar.volume = GetLittleF32(at + 20);
  bar.rawClose = bar.close;
  return bar;
}

void EncodeBar(const CDayRecord& bar, unsigned char* at) {
  PutLittleU32(at, bar.DateNumber());
  PutLittleF32(at + 4, static_cast<float>(bar.open));
  PutLittleF32(at + 8, static_cast<float>(bar.high));
  PutLittleF32(at + 12, static_cast<float>(bar.low));
  PutLittleF32(at + 16, static_cast<float>(bar.close));
  PutLittleF32(at + 20, static_cast<float>(bar.volume));
}

// Writes bars [first, end) with one fwrite of a prepared buffer, then
// closes the file. A failed flush on closing counts as a failed write: the
// bars did not reach the file.
int32_t WriteBarsAndClose(std::FILE* file, const CChart& chart, size_t first) {
  const size_t count = chart.size() - first;
  std::vector<unsigned char> bytes(count * kRecordBytes);
  for (size_t i = 0; i < count; ++i) {
    EncodeBar(chart[first + i], bytes.data() + i * kRecordBytes);
  }
  const bool written =
      bytes.empty() ||
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed ? CChartSaverFile::kOk : CChartSaverFile::kCannotWrite;
}

}  // namespace

CChartLoaderFile::CChartLoaderFile(const char* folder, std::string code,
                                   int32_t last)
    : folder_(folder != nullptr ? folder : ""),
      code_(std::move(code)),
      last_(last) {}

int32_t CChartLoaderFile::Load(CChart& chart) {
  std::string path;
  if (!BuildChartFilePath(folder_, code_, path)) return kCannotOpen;
  std::FILE* file = OpenRecordFileForReading(path);
  if (file == nullptr) return kCannotOpen;
  if (!SeekToLastRecords(file, kRecordBytes, last_)) {
    std::fclose(file);
    return kCannotSeek;
  }
  const int32_t status = ReadRecords(
      file, kRecordBytes,
      [&chart](const unsigned char* at) { chart.push_back(DecodeBar(at)); });
  std::fclose(file);
  if (status != kRecordFileOk) return kCut;
  chart.TrimLeading();
  return kOk;
}

CChartSaverFile::CChartSaverFile(const char* folder, std::string code,
                                 bool append)
    : folder_(folder != nullptr ? folder : ""),
      code_(std::move(code)),
      append_(append) {}

int32_t CChartSaverFile::Save(CChart& chart) {
  chart.TrimLeading();
  std::string path;
  if (!BuildChartFilePath(folder_, code_, path)) return kCannotOpen;
  if (!append_) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return kCannotOpen;
    return WriteBarsAndClose(file, chart, 0);
  }

  std::FILE* file = std::fopen(path.c_str(), "a+b");
  if (file == nullptr) return kCannotOpen;
  size_t first = 0;
  // A file shorter than one record cannot move there: everything is added.
  if (std::fseek(file, -static_cast<long>(kRecordBytes), SEEK_END) == 0) {
    unsigned char date[4];
    if (std::fread(date, 1, sizeof date, file) != sizeof date) {
      std::fclose(file);
      return kCannotReadLast;
    }
    // The first bar dated after the last record; the largest date number
    // has nothing after it (and would wrap to 0).
    const uint32_t lastDate = GetLittleU32(date);
    int32_t index = 0;
    if (lastDate == UINT32_MAX ||
        !chart.Find(lastDate + 1u, index, CChart::kFindExactOrLater)) {
      std::fclose(file);
      return kOk;
    }
    first = static_cast<size_t>(index);
  }
  // Writing after reading needs a move in between; "a+" writes at the end
  // in any case.
  if (std::fseek(file, 0, SEEK_END) != 0) {
    std::fclose(file);
    return kCannotSeekEnd;
  }
  return WriteBarsAndClose(file, chart, first);
}
