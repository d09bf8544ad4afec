// Operating-system services: virtual memory and its refusals, the packed date and its zone,
// time of day, environment and current directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/os/lazy_library.h"
#include "platform/os/platform.h"
#include "runtime/throw.h"

namespace {

TEST(VirtualMemory, CommittedPagesAreWritableAndReleased) {
  for (bool executable : {false, true}) {
    auto* p = static_cast<unsigned char*>(platform::virtual_alloc(100000, executable));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
    p[0] = 1;
    p[99999] = 2;
    EXPECT_EQ(p[0] + p[99999], 3);
    uint32_t code =
        rt::catch_codes(rt::kCatchVirtualMemory, [&] { platform::virtual_free(p, 100000); });
    EXPECT_EQ(code, 0u);
  }
}

TEST(VirtualMemory, RefusalsThrowTheirCodes) {
  uint32_t code =
      rt::catch_codes(rt::kCatchVirtualMemory, [] { platform::virtual_alloc(size_t{1} << 62); });
  EXPECT_EQ(code, rt::kThrowCommitRefused);
  char unaligned[64];
  code = rt::catch_codes(rt::kCatchVirtualMemory,
                         [&] { platform::virtual_free(unaligned + 1, 4096); });
  EXPECT_EQ(code, rt::kThrowReleaseRefused);
}

struct ZoneCase {
  int offset_minutes;
  uint32_t zone;
};

const ZoneCase kZoneCases[] = {
    {0, 0},
    {330, 5 << 2 | 2},  // +5:30
    {345, 5 << 2 | 3},  // +5:45
    {60, 1 << 2},
    {840, 14 << 2},               // +14:00
    {-300, (0x10 | 5) << 2},      // -5:00
    {-570, (0x10 | 9) << 2 | 2},  // -9:30
    {-30, 0x10 << 2 | 2},         // -0:30 keeps its sign
};

TEST(Date, ZonePacking) {
  for (const ZoneCase& c : kZoneCases)
    EXPECT_EQ(platform::pack_zone(c.offset_minutes), c.zone) << c.offset_minutes;
}

uint32_t packed(const tm& t, uint32_t zone) {
  return static_cast<uint32_t>(t.tm_year + 1900) << 17 | static_cast<uint32_t>(t.tm_mon + 1) << 12 |
         static_cast<uint32_t>(t.tm_mday) << 7 | zone;
}

// The packed date of now, compared with the clock read before and after (midnight may pass).
void expect_today(bool utc, uint32_t zone) {
  time_t before = time(nullptr);
  uint32_t date = platform::current_date_packed(utc);
  time_t after = time(nullptr);
  tm a, b;
  if (utc) {
    gmtime_r(&before, &a);
    gmtime_r(&after, &b);
  } else {
    localtime_r(&before, &a);
    localtime_r(&after, &b);
  }
  EXPECT_TRUE(date == packed(a, zone) || date == packed(b, zone)) << std::hex << date;
}

class LocalZone : public testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    if (tz) saved_ = tz;
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static void use(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  bool had_tz_ = false;
  std::string saved_;
};

TEST_F(LocalZone, TodayCarriesTheZone) {
  expect_today(true, 0);
  // POSIX zone strings give the offset west of Greenwich: "-5:30" is UTC+5:30.
  use("IST-5:30");
  expect_today(false, 5 << 2 | 2);
  use("BRT+3");
  expect_today(false, (0x10 | 3) << 2);
  use("UTC0");
  expect_today(false, 0);
}

TEST(Time, TimeOfDay) {
  // The same clock as the one read, not time(), which is coarser and may lag a second behind.
  auto now = [] {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
  };
  // The machine's clock may be stepped while the test runs: a reading is accepted when one of a
  // few attempts falls between the two surrounding clock reads.
  bool bracketed = false;
  double whole = 0;
  for (int attempt = 0; attempt < 5 && !bracketed; attempt++) {
    time_t before = now();
    whole = platform::utc_time_of_day(false);
    time_t after = now();
    bracketed = whole == static_cast<double>(before % 86400) ||
                whole == static_cast<double>(after % 86400);
  }
  EXPECT_TRUE(bracketed) << whole;
  for (int i = 0; i < 3; ++i) {
    double precise = platform::utc_time_of_day(true);
    EXPECT_GE(precise, 0.0);
    EXPECT_LT(precise, 86400.0);
  }
}

TEST(Environment, SetGetAndRemove) {
  std::string value;
  ASSERT_TRUE(platform::set_env("ZEL_TEST_VARIABLE", "caf\xC3\xA9"));
  ASSERT_TRUE(platform::get_env("ZEL_TEST_VARIABLE", value));
  EXPECT_EQ(value, "caf\xC3\xA9");
  ASSERT_TRUE(platform::set_env("ZEL_TEST_VARIABLE", ""));
  ASSERT_TRUE(platform::get_env("ZEL_TEST_VARIABLE", value));
  EXPECT_EQ(value, "");
  ASSERT_TRUE(platform::set_env("ZEL_TEST_VARIABLE", nullptr));
  EXPECT_FALSE(platform::get_env("ZEL_TEST_VARIABLE", value));
  EXPECT_FALSE(platform::set_env("BAD=NAME", "x"));
}

TEST(Directory, SetAndGetCurrentDirectory) {
  std::string start = platform::get_current_dir();
  ASSERT_FALSE(start.empty());
  char made[] = "/tmp/zel-dir-XXXXXX";
  ASSERT_NE(mkdtemp(made), nullptr);
  ASSERT_TRUE(platform::set_current_dir(made));
  char* real = realpath(made, nullptr);
  EXPECT_EQ(platform::get_current_dir(), real);
  std::free(real);
  EXPECT_FALSE(platform::set_current_dir("/nonexistent/zel"));
  ASSERT_TRUE(platform::set_current_dir(start.c_str()));
  EXPECT_EQ(platform::get_current_dir(), start);
  rmdir(made);
}

TEST(LazyLibrary, ResolvesFunctionsAndAnswersNullForWhatIsMissing) {
  platform::LazyLibrary libc("libc.so.6");
  auto length = platform::lazy_function<size_t (*)(const char*)>(libc, "strlen");
  ASSERT_NE(length, nullptr);
  EXPECT_EQ(length("lazy"), 4u);
  EXPECT_EQ(libc.symbol("no_such_function_here"), nullptr);
  platform::LazyLibrary missing("libzel-no-such-library.so.1");
  EXPECT_EQ(missing.symbol("strlen"), nullptr);
  EXPECT_EQ(missing.symbol("strlen"), nullptr);  // asked again: still null, no retry crash
}

}  // namespace
