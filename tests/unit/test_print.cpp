// Low-level print (item formats, line feeds) and the hook lists (order, duplicates, growth).
// Output is caught both on standard output and through an output hook, which must agree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/cell.h"
#include "runtime/print.h"
#include "tests/unit/stdout_capture.h"

namespace {

std::string hooked;  // what the recording output hook saw
std::vector<int> calls;

void record_output(const void* text, size_t length, int unit) {
  EXPECT_EQ(unit, 0);
  hooked.append(static_cast<const char*>(text), length);
}

template <int N>
void numbered_output_hook(const void*, size_t, int) {
  calls.push_back(N);
}

template <int N>
void numbered_print_hook(const Cell*, int) {
  calls.push_back(N);
}

// Every test starts and ends with the hook lists as start-up leaves them.
class Print : public testing::Test {
 protected:
  void SetUp() override {
    rt::init_hooks();
    hooked.clear();
    calls.clear();
  }
  void TearDown() override { rt::init_hooks(); }
};

struct FormatCase {
  std::initializer_list<rt::PrintItem> items;
  const char* expected;
};

TEST_F(Print, ItemFormats) {
  const FormatCase cases[] = {
      {{}, ""},
      {{true, false}, "truefalse"},
      {{int32_t{-42}, int32_t{2147483647}}, "-422147483647"},
      {{rt::PrintItem::byte('A'), rt::PrintItem::byte('z')}, "Az"},
      {{0.1f}, "0.1"},  // seven digits: the float's own error does not show
      {{1.0f / 3}, "0.3333333"},
      {{1234567.0f}, "1234567"},
      {{16777216.0f}, "1.677722e+07"},
      {{0.1}, "0.1"},
      {{1.0 / 3}, "0.3333333333333333"},
      {{1e300}, "1e+300"},
      {{"abc", int32_t{5}, "", "d"}, "abc5d"},
      {{static_cast<const char*>(nullptr)}, ""},
      {{reinterpret_cast<const void*>(0x1234)}, "00001234"},
      {{reinterpret_cast<const void*>(0xABCDEF12)}, "ABCDEF12"},
      {{reinterpret_cast<const void*>(0x7FFD12345678)}, "7FFD12345678"},
  };
  rt::register_hooks(nullptr, record_output);
  for (const FormatCase& c : cases) {
    hooked.clear();
    StdoutCapture out;
    rt::print(c.items);
    EXPECT_EQ(out.text(), c.expected);
    EXPECT_EQ(hooked, c.expected);
  }
}

TEST_F(Print, PrintLineEndsWithALineFeedOnly) {
  rt::register_hooks(nullptr, record_output);
  StdoutCapture out;
  rt::print_line({});
  rt::print_line({"x=", int32_t{3}});
  rt::print_byte('!');
  EXPECT_EQ(out.text(), "\nx=3\n!");
  EXPECT_EQ(hooked, "\nx=3\n!");
}

TEST_F(Print, OutputHookRegisteredTwiceIsCalledTwice) {
  rt::register_hooks(nullptr, record_output);
  rt::register_hooks(nullptr, record_output);
  StdoutCapture out;
  rt::print({"ab"});
  EXPECT_EQ(hooked, "abab");
  EXPECT_EQ(out.text(), "ab");
}

TEST_F(Print, SixthRegistrationGrowsTheListsAndKeepsTheOrder) {
  rt::register_hooks(numbered_print_hook<1>, numbered_output_hook<1>);
  rt::register_hooks(numbered_print_hook<2>, numbered_output_hook<2>);
  rt::register_hooks(numbered_print_hook<3>, nullptr);
  rt::register_hooks(nullptr, numbered_output_hook<3>);
  rt::register_hooks(numbered_print_hook<4>, numbered_output_hook<4>);
  rt::register_hooks(numbered_print_hook<5>, numbered_output_hook<5>);
  rt::register_hooks(numbered_print_hook<6>, numbered_output_hook<6>);
  for (int i = 7; i <= 11; ++i) rt::register_hooks(nullptr, numbered_output_hook<0>);

  rt::run_output_hooks("x", 1, 0);
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0}));
  calls.clear();
  rt::run_print_hooks(nullptr, 0);
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

const Cell* printed_value;
int printed_flag;

void record_print(const Cell* value, int flag) {
  printed_value = value;
  printed_flag = flag;
}

TEST_F(Print, PrintHooksGetTheValueAndFlag) {
  Cell value{};
  rt::register_hooks(record_print, nullptr);
  rt::run_print_hooks(&value, 7);
  EXPECT_EQ(printed_value, &value);
  EXPECT_EQ(printed_flag, 7);
}

}  // namespace
