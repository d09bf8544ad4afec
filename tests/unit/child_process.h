// Test helper for tests that change what the whole runtime shares (the memory manager, the
// datatype registry): the body runs in a child process (a death test, so the suites' runtime
// stays as it was), and a failed check in the child ends it with status 1.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace child_process {

template <class Body>
void expect_passes(Body body) {
  EXPECT_EXIT(
      {
        body();
        std::fflush(nullptr);  // the child's failure messages
        std::_Exit(testing::Test::HasFailure() ? 1 : 0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace child_process
