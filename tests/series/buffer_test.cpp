// The byte stores behind downloads and pages, and the guard of temporary
// files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "series/buffer_file.h"
#include "series/buffer_string.h"
#include "series/temp_file.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/series/series_test_util.h"

namespace fs = std::filesystem;

namespace {

// Writes `bytes` through one handle, `piece` bytes a call.
void Fill(CBuffer& buffer, const std::string& bytes, size_t piece = SIZE_MAX) {
  CBuffer::Handle h = buffer.OpenWrite();
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const size_t n = std::min(piece, bytes.size() - at);
    EXPECT_TRUE(buffer.Write(h, bytes.data() + at, static_cast<int32_t>(n)));
  }
  buffer.Close(h);
}

}  // namespace

TEST(BufferFileTest, BytesReadBackUnsignedWithoutLinesOrStepBackWhileTheStoreLives) {
  TempDir dir;
  const std::string path = dir.Sub("archive.gz");
  {
    CBufferFile buffer(path);
    EXPECT_EQ(nullptr, buffer.OpenRead());
    Fill(buffer, std::string("\x1f\n\0\xff", 4), 2);
    CBuffer::Handle r = buffer.OpenRead();
    std::string line;
    EXPECT_FALSE(buffer.ReadLine(r, line));
    EXPECT_EQ(0x1f, buffer.GetChar(r));
    buffer.Unget(r);
    for (int c : {int{'\n'}, 0x00, 0xff}) EXPECT_EQ(c, buffer.GetChar(r));
    EXPECT_FALSE(buffer.IsEnd(r));  // known only once a read hits the end
    EXPECT_EQ(-1, buffer.GetChar(r));
    EXPECT_TRUE(buffer.IsEnd(r));
    buffer.Close(r);
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(nullptr, CBufferFile(dir.Sub("no/such/folder")).OpenWrite());
}

TEST(BufferStringTest, KeepsTextWithZerosAsDotsReadSignedByLineOrByChar) {
  CBufferString buffer;
  Fill(buffer, std::string("A\x82\xFF" "B\0", 5));
  EXPECT_STREQ("A\x82\xFF" "B.", buffer.GetText());
  CBuffer::Handle h = buffer.OpenRead(), other = buffer.OpenRead();
  for (int c : {int{'A'}, -126, -1}) EXPECT_EQ(c, buffer.GetChar(h));  // 0xFF looks like the end ...
  EXPECT_FALSE(buffer.IsEnd(h));                                   // ... but is not
  for (int c : {int{'B'}, int{'.'}, -1}) EXPECT_EQ(c, buffer.GetChar(h));
  EXPECT_TRUE(buffer.IsEnd(h));
  buffer.Unget(h);
  EXPECT_EQ('.', buffer.GetChar(h));
  buffer.Unget(other);  // each handle has its own cursor, never before the start
  EXPECT_EQ('A', buffer.GetChar(other));
  buffer.Close(h);
  buffer.Close(other);

  Fill(buffer, "a\r\nb");  // replaces the text
  h = buffer.OpenRead();
  std::string line;
  for (const char* expected : {"a", "", "b"}) {
    EXPECT_TRUE(buffer.ReadLine(h, line));
    EXPECT_EQ(expected, line);
  }
  EXPECT_FALSE(buffer.ReadLine(h, line));
  buffer.Close(h);
  TempDir dir;
  ASSERT_TRUE(buffer.SaveToFile(dir.Sub("page.html")));
  EXPECT_EQ("a\r\nb", ReadBytes(dir.Sub("page.html")));
  EXPECT_FALSE(buffer.SaveToFile(dir.Sub("missing/page.html")));
  buffer.Close(buffer.OpenWrite());  // opening for writing alone empties it
  EXPECT_STREQ("", buffer.GetText());
}

// The zero after the text needs room too; pieces of 70000 bytes make the
// block be replaced in the middle of one.
TEST(BufferStringTest, GrowsByDoublingOnlyWhenTheBlockIsFull) {
  struct Case { size_t size, piece; int32_t capacity; };
  for (const Case& c : {Case{262143, SIZE_MAX, 262144}, {262144, SIZE_MAX, 524288},
                        {300000, 70000, 524288}}) {
    CBufferString buffer;
    std::string page(c.size, 'p');
    page.back() = 'z';
    Fill(buffer, page, c.piece);
    EXPECT_EQ(c.capacity, buffer.GetCapacity()) << c.size;
    EXPECT_EQ(page, buffer.GetText());
  }
}

TEST(TempFileTest, DeletesItsFileWhenDestroyedOrReassignedAndMakesUniqueOnes) {
  TempDir dir;
  ScopedEnv tmpdir("TMPDIR", dir.path().c_str());
  const std::string first = dir.Sub("first"), second = dir.Sub("second");
  WriteBytes(first, "x");
  WriteBytes(second, "x");
  {
    CTempFile file(first), made, other;
    EXPECT_STREQ(second.c_str(), file.Assign(second));
    EXPECT_TRUE(fs::exists(second));
    const std::string path = made.Assign("");  // a new file in the temporary folder
    EXPECT_EQ(dir.path(), fs::path(path).parent_path());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_NE(path, std::string(other.Assign("")));
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}
