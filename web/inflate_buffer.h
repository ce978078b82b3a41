#ifndef TICKORA_WEB_INFLATE_BUFFER_H_
#define TICKORA_WEB_INFLATE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "series/buffer.h"

struct z_stream_s;

// Where CInflateBuffer puts the bytes it unpacks.
class CInflateSink {
 public:
  virtual ~CInflateSink() = default;
  // A new pass begins: whatever came before is void. False when the sink
  // cannot take bytes; the buffer then does not open.
  [[nodiscard]] virtual bool Begin() = 0;
  // The next unpacked bytes, in order. False when the sink cannot take
  // them (a write failed): the buffer then takes no more.
  [[nodiscard]] virtual bool Add(const unsigned char* bytes, size_t size) = 0;
};

// CInflateBuffer is a CBuffer that a download of a gzip file is written
// into: it unpacks the bytes as they arrive and hands what comes out to its
// sink, so the compressed file never lands on disk and is never held
// whole. Each OpenWrite starts over (an HTTP client opens the buffer anew
// for each attempt), and begins the sink again.
//
// Complete() tells afterwards whether the bytes written since the last
// OpenWrite were whole gzip members (one or more, one after another) and
// nothing else. A stream that is damaged, cut short, empty or followed by
// other bytes is not complete; after the first damage the buffer takes
// no more bytes (Write gives false) and hands nothing more to the sink.
//
// The unpacked size is bounded: at most SetMaxUnpacked bytes, and at most
// kBombSlack plus kBombRatio times the bytes written so far, far more than
// real archive files unpack to (about twice) and far less than a gzip bomb.
// Past either bound, Write gives false and TooLarge tells why.
//
// The buffer cannot be read: OpenRead gives null. It refers to the sink,
// which must outlive it. One handle at a time; not copyable.
class CInflateBuffer : public CBuffer {
 public:
  explicit CInflateBuffer(CInflateSink& sink);
  ~CInflateBuffer() override;

  Handle OpenRead() override { return nullptr; }
  Handle OpenWrite() override;
  void Close(Handle handle) override;
  [[nodiscard]] bool Write(Handle handle, const char* bytes, int32_t length) override;
  [[nodiscard]] int32_t GetChar(Handle) override { return -1; }
  [[nodiscard]] bool ReadLine(Handle, std::string&) override { return false; }
  [[nodiscard]] bool IsEnd(Handle) override { return true; }
  void Unget(Handle) override {}

  [[nodiscard]] bool Complete() const;
  // True once a pass stopped at the unpacked size cap (kept over later
  // passes: the client empties the buffer by opening it once more).
  [[nodiscard]] bool TooLarge() const { return tooLarge_; }

  static constexpr uint64_t kBombSlack = 64ull << 20;
  static constexpr uint64_t kBombRatio = 32;
  // The absolute cap of one pass; 1 GiB unless set.
  void SetMaxUnpacked(uint64_t bytes) { maxUnpacked_ = bytes; }
  // Bytes written and bytes unpacked since the last OpenWrite.
  uint64_t CompressedBytes() const { return compressed_; }
  uint64_t UnpackedBytes() const { return unpacked_; }

 private:
  static constexpr size_t kOutSize = 256 * 1024;

  void EndStream();

  CInflateSink& sink_;
  std::unique_ptr<z_stream_s> z_;
  std::unique_ptr<unsigned char[]> out_;
  bool open_ = false;     // an inflate stream is set up in z_
  bool failed_ = false;   // damaged, too large, or the sink failed
  bool tooLarge_ = false; // stopped at the unpacked size cap
  uint64_t maxUnpacked_ = 1ull << 30;
  bool inMember_ = false; // within a member (its end not yet seen)
  int members_ = 0;       // whole members seen
  uint64_t compressed_ = 0;
  uint64_t unpacked_ = 0;
};

#endif  // TICKORA_WEB_INFLATE_BUFFER_H_
