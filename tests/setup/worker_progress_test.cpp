#include "setup/worker_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/text.h"

TEST(WorkerProgressTest, FreshAndResumeResetsKeepWhatTheyShould) {
  WorkerProgress p;
  auto state = [&p] {
    return StringFormat("%d %d %d %d %d %d '%s' %s", p.stage.load(), p.resumeIndex.load(),
                        p.total.load(), p.done.load(), p.cancel.load(), p.resume.load(),
                        p.Error().c_str(), p.Status().c_str());
  };
  p.stage = 3;
  p.resumeIndex = 42;
  p.total = 9;
  p.done = 4;
  p.cancel = 1;
  p.SetError("boom");
  p.SetStatus("last");
  p.ResetForResume();
  EXPECT_EQ("3 42 100 0 0 1 '' last", state());
  p.cancel = 1;
  p.SetError("boom");
  p.ResetForFreshRun();
  EXPECT_EQ("0 0 100 0 0 0 '' last", state());
}

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
