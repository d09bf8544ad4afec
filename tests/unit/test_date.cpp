// date!: the 64-bit epoch-second count of dates far from 1970, which the language only shows
// through to integer! (range-checked to 32 bits); expected counts come from Python's datetime.
#include <gtest/gtest.h>

#include "datatypes/date.h"

namespace {

struct EpochCase {
  int32_t year, month, day, hour, minute, second;
  int64_t expected;
};

TEST(Date, EpochSecondsHold64Bits) {
  const EpochCase cases[] = {
      {1970, 1, 1, 0, 0, 0, 0},
      {2038, 1, 19, 3, 14, 8, 2147483648LL},
      {1901, 12, 13, 20, 45, 51, -2147483649LL},
      {2100, 1, 1, 0, 0, 0, 4102444800LL},
      {9999, 12, 31, 23, 59, 59, 253402300799LL},
      {1, 1, 1, 0, 0, 0, -62135596800LL},
      {date::kMaxYear, 12, 31, 23, 59, 59, 454861871999LL},
      {date::kMinYear, 1, 1, 0, 0, 0, -579196310400LL},
  };
  for (const EpochCase& c : cases) {
    Cell d{};
    date::make_at_hms(&d, c.year, c.month, c.day, c.hour, c.minute, c.second, 0);
    EXPECT_EQ(date::to_epoch_seconds(d), c.expected) << c.year << "-" << c.month << "-" << c.day;
  }
}

}  // namespace
