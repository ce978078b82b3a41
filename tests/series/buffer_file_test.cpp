#include "series/buffer_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/common/temp_dir.h"

namespace fs = std::filesystem;

TEST(BufferFileTest, BytesReadBackUnsignedWithoutLinesOrStepBack) {
  TempDir dir;
  CBufferFile buffer(dir.Sub("archive.gz"));
  CBuffer::Handle w = buffer.OpenWrite();
  ASSERT_NE(nullptr, w);
  EXPECT_TRUE(buffer.Write(w, "\x1f\n", 2));
  EXPECT_TRUE(buffer.Write(w, std::string("\0\xff", 2).data(), 2));
  buffer.Close(w);

  CBuffer::Handle r = buffer.OpenRead();
  std::string line;
  EXPECT_FALSE(buffer.ReadLine(r, line));
  EXPECT_EQ(0x1f, buffer.GetChar(r));
  buffer.Unget(r);
  EXPECT_EQ('\n', buffer.GetChar(r));
  EXPECT_EQ(0x00, buffer.GetChar(r));
  EXPECT_EQ(0xff, buffer.GetChar(r));
  EXPECT_FALSE(buffer.IsEnd(r));  // known only once a read hits the end
  EXPECT_EQ(-1, buffer.GetChar(r));
  EXPECT_TRUE(buffer.IsEnd(r));
  buffer.Close(r);
}

TEST(BufferFileTest, TheFileLivesAsLongAsTheStore) {
  TempDir dir;
  const std::string path = dir.Sub("download.gz");
  {
    CBufferFile buffer(path);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(nullptr, buffer.OpenRead());
    buffer.Close(buffer.OpenWrite());
    EXPECT_TRUE(fs::exists(path));
  }
  EXPECT_FALSE(fs::exists(path));
  { CBufferFile unused(dir.Sub("unused")); }  // never created: no trouble
  CBufferFile no_folder(dir.Sub("no/such/folder"));
  EXPECT_EQ(nullptr, no_folder.OpenWrite());
}
