// Catch levels and throws: which site takes a code, nesting, the raise of language errors, and
// the fate of a code that no site takes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "boot/entry.h"
#include "runtime/cell.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace {

struct LevelCase {
  uint32_t level;
  uint32_t code;
  bool caught;  // by the inner site of that level, else by the enclosing catch-all site
};

const LevelCase kLevelCases[] = {
    {5, 5, true},  // a level equal to the code catches it
    {4, 5, false},
    {rt::kThrowLexer, rt::kThrowLexer, true},
    {rt::kThrowLexer, rt::kThrowError, false},
    {rt::kCatchVirtualMemory, rt::kThrowReleaseRefused, true},
    {rt::kCatchVirtualMemory, rt::kThrowCommitRefused, true},
    {rt::kCatchVirtualMemory, rt::kThrowIntegerEscape, false},
    {rt::kCatchVirtualMemory, rt::kThrowThrow, false},
    {rt::kCatchVirtualMemory, rt::kThrowExit, false},
    {rt::kCatchVirtualMemory, rt::kThrowReturn, false},
    {rt::kCatchVirtualMemory, rt::kThrowContinue, false},
    {rt::kCatchVirtualMemory, rt::kThrowBreak, false},
    {rt::kCatchVirtualMemory, rt::kThrowError, false},
    {rt::kThrowError, rt::kThrowError, true},
    {rt::kThrowThrow, rt::kThrowError, false},
    {rt::kCatchAll, rt::kThrowError, true},
};

TEST(Throw, CatchLevelsTakeCodesUpToTheirLevel) {
  for (const LevelCase& c : kLevelCases) {
    uint32_t inner = 0;
    uint32_t outer = rt::catch_codes(
        rt::kCatchAll, [&] { inner = rt::catch_codes(c.level, [&] { rt::throw_code(c.code); }); });
    EXPECT_EQ(inner, c.caught ? c.code : 0u) << std::hex << c.level << " " << c.code;
    EXPECT_EQ(outer, c.caught ? 0u : c.code) << std::hex << c.level << " " << c.code;
  }
}

TEST(Throw, SiteThatCompletesReturnsZero) {
  bool ran = false;
  EXPECT_EQ(rt::catch_codes(rt::kCatchAll, [&] { ran = true; }), 0u);
  EXPECT_TRUE(ran);
}

TEST(Throw, AfterAHandledCatchTheNextThrowGoesToTheEnclosingSite) {
  uint32_t first = 0, second = 0;
  uint32_t outer = rt::catch_codes(rt::kCatchAll, [&] {
    first = rt::catch_codes(rt::kThrowError, [] { rt::throw_code(rt::kThrowBreak); });
    second = rt::catch_codes(rt::kThrowLexer, [] { rt::throw_code(rt::kThrowLexer); });
    rt::throw_code(rt::kThrowReturn);  // from the same frame, after both sites are done
  });
  EXPECT_EQ(first, rt::kThrowBreak);
  EXPECT_EQ(second, rt::kThrowLexer);
  EXPECT_EQ(outer, rt::kThrowReturn);
}

TEST(Throw, DefaultRaiserKeepsTheNamesAndThrowsTheErrorCode) {
  rt::ErrorRaiser previous = rt::set_error_raiser(nullptr);
  rt::raised = {nullptr, nullptr};
  uint32_t code = rt::catch_codes(rt::kCatchAll, [] { rt::fire_error("math", "zero-divide"); });
  rt::set_error_raiser(previous);
  EXPECT_EQ(code, rt::kThrowError);
  ASSERT_NE(rt::raised.id, nullptr);
  EXPECT_STREQ(rt::raised.category, "math");
  EXPECT_STREQ(rt::raised.id, "zero-divide");
}

const Cell* seen_arguments[3];
const char* seen_id;

void recording_raiser(const char*, const char* id, const Cell* a1, const Cell* a2, const Cell* a3) {
  seen_id = id;
  seen_arguments[0] = a1;
  seen_arguments[1] = a2;
  seen_arguments[2] = a3;
  rt::throw_code(rt::kThrowError);
}

TEST(Throw, InstalledRaiserGetsTheArgumentsAndNullRestoresTheDefault) {
  Cell a{}, b{}, c{};
  rt::ErrorRaiser previous = rt::set_error_raiser(recording_raiser);
  uint32_t code =
      rt::catch_codes(rt::kCatchAll, [&] { rt::fire_error("script", "no-value", &a, &b, &c); });
  EXPECT_EQ(rt::set_error_raiser(nullptr), recording_raiser);
  EXPECT_EQ(code, rt::kThrowError);
  EXPECT_STREQ(seen_id, "no-value");
  EXPECT_EQ(seen_arguments[0], &a);
  EXPECT_EQ(seen_arguments[1], &b);
  EXPECT_EQ(seen_arguments[2], &c);

  rt::raised = {nullptr, nullptr};
  rt::catch_codes(rt::kCatchAll, [] { rt::fire_error("internal", "not-done"); });
  rt::set_error_raiser(previous);
  EXPECT_STREQ(rt::raised.id, "not-done");
}

int throw_past_every_site() { rt::throw_code(rt::kThrowBreak); }

TEST(ThrowDeathTest, CodeNoSiteTakesEndsTheProcessWithFatalError95) {
  char name[] = "zel";
  char* args[] = {name, nullptr};
  // The child runs the program under the entry code's root site, on the runtime that main
  // brought up: a second start of the whole runtime in this process would leave the caches of
  // the first (plans, call entries) naming nodes of a heap that is gone. The stress mode's
  // quarantine of moved buffers belongs to the first start, so the child runs without it.
  auto start_without_stress = [&] {
    unsetenv("ZEL_GC_STRESS");
    gc::set_stress(0);
    return boot::run(1, args, [] {}, throw_past_every_site);
  };
  EXPECT_EXIT(start_without_stress(), testing::ExitedWithCode(95),
              "^\\*\\*\\* Runtime Error 95: no CATCH for THROW\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
}

}  // namespace
