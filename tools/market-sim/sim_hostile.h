#ifndef TICKORA_TOOLS_MARKET_SIM_SIM_HOSTILE_H_
#define TICKORA_TOOLS_MARKET_SIM_SIM_HOSTILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// What a broken or hostile server sends instead of an archive file or a
// page, for the fault kinds of the simulated market (sim_server.h). Each
// works on the unpacked bytes of the real file (Unpack) or makes a body of
// its own; none keeps more than one piece of its output in memory.

// The unpacked bytes of a gzip file; false when it does not unpack.
bool Unpack(const std::string& gzip, std::string& out);

// The unpacked archive file `file` (price records when `valueBytes` is 24,
// margin records when 20) with records that no file may hold added after
// each issue's own: days that do not exist (0, 99999999, month 13,
// 30 February), a far future day, a repeat of the first record,
// and values that are NaN, infinite or negative.
std::string WithBadRecords(const std::string& file, std::size_t valueBytes);

// The unpacked issue list file (`brand` true) or split file with numbers
// that are not finite: every issue's dividend NaN and EPS infinite, every
// split's ratio NaN.
std::string WithNonFiniteNumbers(const std::string& file, bool brand);

// The archive file's header followed by `records` records whose code
// alternates between the file's first two issues, so that an index that
// keeps a run per change of code grows with every record.
std::string WithAlternatingCodes(const std::string& file, std::size_t valueBytes,
                                 std::size_t records);

// A gzip stream made piece by piece: each Next gives the next compressed
// bytes, empty once the stream has ended. Not copyable.
class CGzipStream {
 public:
  // `head` then `zeros` zero bytes (a bomb: a small body that unpacks to
  // far more); with `endless`, pseudo-random bytes without end instead of
  // the zeros (stored, not compressed).
  CGzipStream(std::string head, std::uint64_t zeros, bool endless);
  ~CGzipStream();
  CGzipStream(const CGzipStream&) = delete;
  CGzipStream& operator=(const CGzipStream&) = delete;

  std::string Next();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

#endif  // TICKORA_TOOLS_MARKET_SIM_SIM_HOSTILE_H_
