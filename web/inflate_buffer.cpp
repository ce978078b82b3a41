#include "web/inflate_buffer.h"

#include <zlib.h>

namespace {

// 15 window bits plus 16: a gzip wrapper only.
constexpr int kGzipWindowBits = 15 + 16;

}  // namespace

CInflateBuffer::CInflateBuffer(CInflateSink& sink)
    : sink_(sink), z_(std::make_unique<z_stream_s>()) {}

CInflateBuffer::~CInflateBuffer() { EndStream(); }

void CInflateBuffer::EndStream() {
  if (open_) inflateEnd(z_.get());
  open_ = false;
}

CBuffer::Handle CInflateBuffer::OpenWrite() {
  EndStream();
  *z_ = z_stream_s{};
  // tooLarge_ stays: the client opens the buffer once more after a failed
  // exchange to empty it, and a body too large is not tried again.
  failed_ = false;
  inMember_ = false;
  members_ = 0;
  compressed_ = unpacked_ = 0;
  if (!out_) out_ = std::make_unique<unsigned char[]>(kOutSize);
  if (inflateInit2(z_.get(), kGzipWindowBits) != Z_OK) return nullptr;
  open_ = true;
  if (!sink_.Begin()) {
    EndStream();
    return nullptr;
  }
  return this;
}

void CInflateBuffer::Close(Handle) {}

bool CInflateBuffer::Write(Handle handle, const char* bytes, int32_t length) {
  if (handle != this || length < 0 || !open_ || failed_) return false;
  compressed_ += static_cast<uint64_t>(length);
  z_stream_s& z = *z_;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
  z.avail_in = static_cast<uInt>(length);
  for (;;) {
    if (!inMember_) {
      if (z.avail_in == 0) break;
      // The next member begins: the same stream, reset.
      if (members_ > 0 && inflateReset(&z) != Z_OK) {
        failed_ = true;
        return false;
      }
      inMember_ = true;
    }
    z.next_out = out_.get();
    z.avail_out = static_cast<uInt>(kOutSize);
    const int rc = inflate(&z, Z_NO_FLUSH);
    const size_t made = kOutSize - z.avail_out;
    if (made > 0) {
      unpacked_ += made;
      // A bomb (a small file that unpacks to far more than any real one)
      // is refused as soon as it passes the cap, before it fills the disk.
      if (unpacked_ > maxUnpacked_ ||
          unpacked_ > kBombSlack + compressed_ * kBombRatio) {
        tooLarge_ = true;
        failed_ = true;
        return false;
      }
      if (!sink_.Add(out_.get(), made)) {
        failed_ = true;
        return false;
      }
    }
    if (rc == Z_STREAM_END) {
      inMember_ = false;
      ++members_;
      continue;
    }
    // A full output area may leave more output behind; otherwise all
    // input is taken and the member goes on in the next piece.
    if (rc == Z_OK && (z.avail_in > 0 || z.avail_out == 0)) continue;
    if (rc == Z_OK || (rc == Z_BUF_ERROR && z.avail_in == 0)) break;
    failed_ = true;
    return false;
  }
  return true;
}

bool CInflateBuffer::Complete() const {
  return open_ && !failed_ && !inMember_ && members_ > 0;
}
