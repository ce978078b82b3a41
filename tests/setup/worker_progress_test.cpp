#include "setup/worker_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

TEST(WorkerProgressTest, ReadersSeeOnlyWholeTexts) {
  WorkerProgress p;
  const std::string a(1000, 'a'), b(3, 'b');
  p.SetStatus(a);
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) p.SetStatus(i % 2 ? a : b);
  });
  int bad = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string s = p.Status();
    bad += s != a && s != b;
  }
  writer.join();
  EXPECT_EQ(0, bad);
}
