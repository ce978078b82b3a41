#include "series/buffer_string.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/common/temp_dir.h"

namespace {

void Fill(CBufferString& buffer, const std::string& bytes) {
  CBuffer::Handle h = buffer.OpenWrite();
  EXPECT_TRUE(buffer.Write(h, bytes.data(), static_cast<int32_t>(bytes.size())));
  buffer.Close(h);
}

}  // namespace

TEST(BufferStringTest, WriteReplacesTheTextAndStoresAZeroByteAsADot) {
  CBufferString buffer;
  Fill(buffer, std::string("ab\0c", 4));
  EXPECT_STREQ("ab.c", buffer.GetText());
  buffer.Close(buffer.OpenWrite());  // opening for writing alone empties it
  EXPECT_STREQ("", buffer.GetText());
}

TEST(BufferStringTest, GrowsByDoublingOnlyWhenTheBlockIsFull) {
  CBufferString fits, full, large;
  Fill(fits, std::string(262143, 'a'));
  EXPECT_EQ(262144, fits.GetCapacity());
  Fill(full, std::string(262144, 'a'));  // grows once, for the zero
  EXPECT_EQ(524288, full.GetCapacity());

  // Written in pieces, so that the block is replaced in the middle of one.
  std::string page(300000, 'p');
  page[299999] = 'z';
  CBuffer::Handle h = large.OpenWrite();
  for (size_t at = 0; at < page.size(); at += 70000) {
    large.Write(h, page.data() + at,
                static_cast<int32_t>(std::min<size_t>(70000, page.size() - at)));
  }
  large.Close(h);
  EXPECT_EQ(524288, large.GetCapacity());
  EXPECT_EQ(page, large.GetText());
}

TEST(BufferStringTest, GetCharIsSignedStopsAtTheEndAndStepsBack) {
  CBufferString buffer;
  Fill(buffer, "A\x82\xFF" "B");
  CBuffer::Handle h = buffer.OpenRead();
  CBuffer::Handle other = buffer.OpenRead();
  EXPECT_EQ('A', buffer.GetChar(h));
  EXPECT_EQ(-126, buffer.GetChar(h));
  EXPECT_EQ(-1, buffer.GetChar(h));  // 0xFF looks like the end ...
  EXPECT_FALSE(buffer.IsEnd(h));     // ... but is not
  EXPECT_EQ('B', buffer.GetChar(h));
  EXPECT_EQ(-1, buffer.GetChar(h));
  EXPECT_TRUE(buffer.IsEnd(h));
  buffer.Unget(h);
  EXPECT_EQ('B', buffer.GetChar(h));
  // Each handle has its own cursor, which never steps before the start.
  buffer.Unget(other);
  EXPECT_EQ('A', buffer.GetChar(other));
  buffer.Close(h);
  buffer.Close(other);
}

TEST(BufferStringTest, ReadLineEndsAtEachCarriageReturnAndLineFeed) {
  CBufferString buffer;
  Fill(buffer, "a\r\nb");
  CBuffer::Handle h = buffer.OpenRead();
  std::string line;
  EXPECT_TRUE(buffer.ReadLine(h, line));
  EXPECT_EQ("a", line);
  EXPECT_TRUE(buffer.ReadLine(h, line));
  EXPECT_EQ("", line);
  EXPECT_TRUE(buffer.ReadLine(h, line));
  EXPECT_EQ("b", line);
  EXPECT_FALSE(buffer.ReadLine(h, line));
  buffer.Close(h);
}

TEST(BufferStringTest, SaveToFileWritesTheTextWithoutItsZero) {
  TempDir dir;
  CBufferString buffer;
  Fill(buffer, "page\n");
  ASSERT_TRUE(buffer.SaveToFile(dir.Sub("page.html")));
  std::stringstream content;
  content << std::ifstream(dir.Sub("page.html"), std::ios::binary).rdbuf();
  EXPECT_EQ("page\n", content.str());
  EXPECT_FALSE(buffer.SaveToFile(dir.Sub("missing/page.html")));
}
