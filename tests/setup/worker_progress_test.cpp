#include "setup/worker_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

TEST(WorkerProgressTest, FreshAndResumeResetsKeepWhatTheyShould) {
  WorkerProgress p;
  p.stage = 3;
  p.resumeIndex = 42;
  p.total = 9;
  p.done = 4;
  p.cancel = 1;
  p.SetError("boom");
  p.SetStatus("last");

  p.ResetForResume();
  EXPECT_EQ(3, p.stage);
  EXPECT_EQ(42, p.resumeIndex);
  EXPECT_EQ(1, p.resume);
  EXPECT_EQ(0, p.cancel);
  EXPECT_EQ("", p.Error());

  p.ResetForFreshRun();
  EXPECT_EQ(0, p.stage);
  EXPECT_EQ(0, p.resumeIndex);
  EXPECT_EQ(0, p.resume);
  EXPECT_EQ(100, p.total);
  EXPECT_EQ(0, p.done);
  EXPECT_EQ("last", p.Status());
}

TEST(WorkerProgressTest, ReadersSeeOnlyWholeTexts) {
  // One thread keeps replacing the status with texts of different lengths
  // while another copies it; every copy must be one of the written texts.
  WorkerProgress p;
  const std::string a(1000, 'a');
  const std::string b(3, 'b');
  p.SetStatus(a);
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) p.SetStatus(i % 2 ? a : b);
  });
  int bad = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string s = p.Status();
    if (s != a && s != b) ++bad;
  }
  writer.join();
  EXPECT_EQ(0, bad);
}
