// The scratch directory fixture shared by the file-system tests.
#include "tests/unit/support/scratch.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

void ScratchDirTest::SetUp() {
  char pattern[] = "/tmp/lzhsfx-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  root_ = pattern;
  ASSERT_NE(getcwd(oldCwd_, sizeof oldCwd_), nullptr);
  std::filesystem::create_directory(root_ + "/dest");
  std::filesystem::create_directory(root_ + "/outside");
  ASSERT_EQ(chdir((root_ + "/dest").c_str()), 0);
}

void ScratchDirTest::TearDown() {
  EXPECT_EQ(chdir(oldCwd_), 0);
  std::filesystem::remove_all(root_);
}
