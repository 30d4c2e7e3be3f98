// Back-end choice: tests run headless through the environment ctest sets.
#include <gtest/gtest.h>

#include "platform/window/backend.h"

TEST(Backend, TestsRunHeadlessAndCanBeForced) {
  EXPECT_TRUE(plat::IsHeadless());
  plat::SetBackend(plat::Backend::kSdl);
  EXPECT_EQ(plat::GetBackend(), plat::Backend::kSdl);
  plat::SetBackend(plat::Backend::kHeadless);
  EXPECT_TRUE(plat::IsHeadless());
}
