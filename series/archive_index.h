#ifndef TICKORA_SERIES_ARCHIVE_INDEX_H_
#define TICKORA_SERIES_ARCHIVE_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "series/archive_file.h"
#include "series/chart.h"
#include "series/chunk_writer.h"
#include "series/margin.h"

// CArchiveIndex keeps one archive price or margin file (layout in
// series/archive_file.h) compact, for a reader that holds many such files
// at once and asks each for one issue at a time.
//
// The file is handed in as it arrives, in pieces of any size (an inflater's
// output, say), and read in one pass: the values of every record go, in
// file order and without their codes, to a values file on disk, while an
// index in memory remembers for each issue code the runs of its records
// there (a run is a stretch of records of one code that follow one
// another; in the files the archive makes, each issue is one run). The
// memory held is the index alone, some tens of bytes an issue; a question
// reads and decodes only the records of its issue.
//
// It takes the same records as ReadArchivePriceFile and
// ReadArchiveMarginFile: a record is taken only when whole, and the first
// one that is not (the input ends in it) ends the records quietly. One
// limit of its own: a code longer than kMaxCodeBytes ends the records too,
// as a damaged tail, so that a stream without zero bytes cannot make one
// code grow without bound in memory.
//
// Use: Begin with the path of the values file, Add every piece, End. Begin
// may be called again to start over (the old values file is replaced). The
// object owns the values file: it deletes it when it is destroyed or
// begun again. One thread at a time; not copyable.
class CArchiveIndex {
 public:
  static constexpr size_t kMaxCodeBytes = 1024;
  // The most runs (stretches of one issue's records one after another) an
  // index keeps: a real file has one an issue; past this the file is
  // taken as damaged (TooManyRuns), bounding the index's memory.
  static constexpr uint64_t kMaxRuns = 1u << 21;

  // `valueBytes` is kArchivePriceValueBytes or kArchiveMarginValueBytes.
  explicit CArchiveIndex(size_t valueBytes);
  ~CArchiveIndex();
  CArchiveIndex(const CArchiveIndex&) = delete;
  CArchiveIndex& operator=(const CArchiveIndex&) = delete;

  // Forgets everything and creates the values file at `path`. False when
  // it cannot be created.
  [[nodiscard]] bool Begin(const std::string& path);
  // The next `size` bytes of the archive file.
  void Add(const void* bytes, size_t size);
  // Ends the input and closes the values file for writing. False when a
  // write failed (or nothing was begun); the values are then not to be
  // trusted.
  [[nodiscard]] bool End();
  // True once writing the values file has failed: the cause is local (a
  // full or read-only temporary folder), not the archive file's.
  [[nodiscard]] bool WriteFailed() const { return out_ != nullptr && out_->Failed(); }
  // True when the records stopped at kMaxRuns: nothing of the file is to
  // be trusted.
  [[nodiscard]] bool TooManyRuns() const { return tooManyRuns_; }

  // Whether a whole header came: without one the file does not read, as
  // the archive file readers report it.
  [[nodiscard]] bool HasHeader() const { return headerDone_; }
  const CArchiveFileHeader& Header() const { return header_; }

  // Issues and records indexed.
  size_t Issues() const { return index_.size(); }
  uint64_t Records() const { return records_; }
  [[nodiscard]] bool Contains(const std::string& code) const { return index_.count(code) > 0; }

  // The values of every record of `code`, in file order, handed one by one
  // to take(const unsigned char* values). False when the values file
  // cannot be read (after End only); an unknown code hands nothing and
  // gives true.
  template <typename Take>
  [[nodiscard]] bool ForEach(const std::string& code, Take take) const;

 private:
  struct Run {
    uint64_t first = 0;  // number of its first record in the values file
    uint64_t count = 0;
  };

  void Reset();
  // Takes as much of [at, end) as makes whole records; returns where it
  // stopped. Bytes of a record cut by the end stay for the next piece.
  const unsigned char* TakeRecords(const unsigned char* at,
                                   const unsigned char* end);
  // Files one whole record.
  void Record(const char* code, size_t codeSize, const unsigned char* values);
  // Reads records [first, first + count) of the values file into `out`.
  [[nodiscard]] bool ReadRun(const Run& run, std::string& out) const;

  const size_t valueBytes_;
  std::string path_;
  // The values file while it is written; gone after End, so that a kept
  // index holds no write buffer.
  std::unique_ptr<CChunkWriter> out_;
  int fd_ = -1;  // the values file, open for reading after End
  bool writing_ = false;
  bool written_ = false;

  std::string headerBytes_;
  bool headerDone_ = false;
  CArchiveFileHeader header_;
  bool stopped_ = false;  // a damaged record ended the records
  bool tooManyRuns_ = false;
  uint64_t runCount_ = 0;
  std::string pending_;   // bytes of a record begun in an earlier piece

  std::unordered_map<std::string, std::vector<Run>> index_;
  uint64_t records_ = 0;
  // The code of the last record and its runs, so that the records of one
  // issue, which mostly follow one another, cost no lookup.
  std::string lastCode_;
  std::vector<Run>* lastRuns_ = nullptr;
  int32_t lastNumber_ = -1;  // old layout: the number lastCode_ came from
};

// The bars of `code` in `index` (a price file), in file order; false when
// the values cannot be read. `out` is emptied first.
[[nodiscard]] bool ReadIndexedBars(const CArchiveIndex& index, const std::string& code,
                     CChart& out);

// The margin entries of `code` in `index` (a margin file), in file order;
// false when the values cannot be read. `out` is emptied first.
[[nodiscard]] bool ReadIndexedMargins(const CArchiveIndex& index, const std::string& code,
                        CMargin& out);

// ---- Implementation ---------------------------------------------------------

template <typename Take>
bool CArchiveIndex::ForEach(const std::string& code, Take take) const {
  const auto it = index_.find(code);
  if (it == index_.end()) return true;
  std::string bytes;
  for (const Run& run : it->second) {
    if (!ReadRun(run, bytes)) return false;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(bytes.data());
    for (uint64_t i = 0; i < run.count; ++i) take(at + i * valueBytes_);
  }
  return true;
}

#endif  // TICKORA_SERIES_ARCHIVE_INDEX_H_
