// handle!: no literal or constructor reaches it from the language, so its text, comparison and
// collector marker are checked on cells built here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/extres.h"
#include "runtime/gc.h"
#include "number_test_support.h"

namespace {

class HandleTest : public number_test::NumberTest {
 protected:
  static Cell H(uint32_t value, uint32_t kind, uint32_t record = 0xFFFFFFFF) {
    return Cell{TYPE_HANDLE, kind, value, record};
  }
};

TEST_F(HandleTest, FormAndMold) {
  struct Case {
    Cell handle;
    const char* form;
    const char* mold_all;
  };
  const std::vector<Case> cases = {
      {H(0x1A2B, 3), "00001A2Bh", "#[handle! 00001A2Bh window]"},
      {H(0, 0), "00000000h", "#[handle! 00000000h]"},
      {H(0xFFFFFFFF, 1), "FFFFFFFFh", "#[handle! FFFFFFFFh fd]"},
      {H(7, 5), "00000007h", "#[handle! 00000007h rich-text]"},
      {H(7, 9), "00000007h", "#[handle! 00000007h]"},  // a kind without a name
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form(c.handle), c.form);
    EXPECT_EQ(mold(c.handle), "handle!");
    EXPECT_EQ(mold_all(c.handle), c.mold_all);
  }
}

// Handle values compare as signed 32-bit numbers; other types are not comparable.
TEST_F(HandleTest, Compare) {
  EXPECT_EQ(compare(H(5, 1), H(5, 3), action::EQUAL), 0);
  EXPECT_NE(compare(H(5, 1), H(6, 1), action::EQUAL), 0);
  EXPECT_EQ(compare(H(0xFFFFFFFF, 1), H(1, 1), action::LESSER), -1);
  EXPECT_EQ(compare(H(2, 1), H(1, 1), action::GREATER), 1);
  EXPECT_EQ(compare(H(1, 1), integer(1), action::EQUAL), action::kNotComparable);
}

// A handle that names an external-resource record keeps it through a collection; one that
// names none (-1) marks nothing.
TEST_F(HandleTest, MarksItsRecord) {
  static int released = 0;
  int kind = extres::register_kind("test-handle", [](uintptr_t) { released++; });
  int32_t kept = extres::new_record(1, kind);
  int32_t dropped = extres::new_record(2, kind);
  stack::push_copy(H(0x10, 1, static_cast<uint32_t>(kept)));
  stack::push_copy(H(0x11, 1));
  released = 0;
  gc::collect();
  EXPECT_TRUE(extres::live(kept));
  EXPECT_FALSE(extres::live(dropped));
  EXPECT_EQ(released, 1);
  stack::pop_cells(2);
  gc::collect();
  EXPECT_FALSE(extres::live(kept));
}

}  // namespace
