#include "series/chart_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "series/chart.h"
#include "series/issue_file_path.h"
#include "series/record_codec.h"
#include "series/record_file.h"
#include "support/replace_file.h"
#include "support/file_error.h"

namespace {

// The chart file keeps one close: the raw close of a bar read back is it.
CDayRecord DecodeChartBar(const unsigned char* at) {
  CDayRecord bar = DecodeBar(at);
  bar.rawClose = bar.close;
  return bar;
}

// Writes `head` (bytes kept from the old file), then bars [first, end)
// with one fwrite of a prepared buffer, and moves the file into place. A
// failed flush on closing counts as a failed write: the bars did not reach
// the file, and the old one stays.
int32_t WriteBarsAndCommit(CReplaceFile& out, const std::string& head,
                           const CChart& chart, size_t first) {
  const size_t count = chart.size() - first;
  std::vector<unsigned char> bytes(count * kBarBytes);
  for (size_t i = 0; i < count; ++i) {
    EncodeBar(chart[first + i], bytes.data() + i * kBarBytes);
  }
  std::FILE* file = out.File();
  const bool written =
      (head.empty() ||
       std::fwrite(head.data(), 1, head.size(), file) == head.size()) &&
      (bytes.empty() ||
       std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  if (!written) {
    NoteFileError(errno, out.Target());
    out.Abandon();
    return CChartSaverFile::kCannotWrite;
  }
  return out.Commit() ? CChartSaverFile::kOk : CChartSaverFile::kCannotWrite;
}

// Reads the whole file at `path` into `bytes`; a missing file is empty.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return errno == ENOENT;
  char buffer[64 * 1024];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    bytes.append(buffer, got);
  }
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
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
  if (!SeekToLastRecords(file, kBarBytes, last_)) {
    std::fclose(file);
    return kCannotSeek;
  }
  const int32_t status = ReadRecords(
      file, kBarBytes,
      [&chart](const unsigned char* at) { chart.push_back(DecodeChartBar(at)); });
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
  CReplaceFile out;
  if (!out.Open(path)) return kCannotOpen;
  if (!append_ || !out.Replacing()) return WriteBarsAndCommit(out, {}, chart, 0);

  // Appending writes the old bytes and the new bars to a new file, so that
  // a kill or a failed write never leaves a file with half a record added.
  std::string old;
  if (!ReadWholeFile(out.Target(), old)) return kCannotReadLast;
  size_t first = 0;
  // A file shorter than one record has no last record: everything is added.
  if (old.size() >= kBarBytes) {
    // The first bar dated after the last record; the largest date number
    // has nothing after it (and would wrap to 0). With nothing newer the
    // file is left as it is.
    const uint32_t lastDate = GetLittleU32(
        reinterpret_cast<const unsigned char*>(old.data()) + old.size() - kBarBytes);
    int32_t index = 0;
    if (lastDate == UINT32_MAX ||
        !chart.Find(lastDate + 1u, index, kFindExactOrLater)) {
      return kOk;
    }
    first = static_cast<size_t>(index);
  }
  return WriteBarsAndCommit(out, old, chart, first);
}
