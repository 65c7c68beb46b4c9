// A fresh directory for tests that touch the file system: root_/dest is the
// current directory while the test runs and root_/outside stands for a place
// an extraction must never reach. The old current directory comes back and
// the whole tree is removed afterwards.
#pragma once
#include <gtest/gtest.h>

#include <string>

class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string root_;

 private:
  char oldCwd_[4096];
};
