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
  virtual bool Begin() = 0;
  // The next unpacked bytes, in order.
  virtual void Add(const unsigned char* bytes, size_t size) = 0;
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
// The buffer cannot be read: OpenRead gives null. It refers to the sink,
// which must outlive it. One handle at a time; not copyable.
class CInflateBuffer : public CBuffer {
 public:
  explicit CInflateBuffer(CInflateSink& sink);
  ~CInflateBuffer() override;

  Handle OpenRead() override { return nullptr; }
  Handle OpenWrite() override;
  void Close(Handle handle) override;
  bool Write(Handle handle, const char* bytes, int32_t length) override;
  int32_t GetChar(Handle) override { return -1; }
  bool ReadLine(Handle, std::string&) override { return false; }
  bool IsEnd(Handle) override { return true; }
  void Unget(Handle) override {}

  bool Complete() const;
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
  bool failed_ = false;   // damaged, or the sink would not begin
  bool inMember_ = false; // within a member (its end not yet seen)
  int members_ = 0;       // whole members seen
  uint64_t compressed_ = 0;
  uint64_t unpacked_ = 0;
};

#endif  // TICKORA_WEB_INFLATE_BUFFER_H_
