// The process and the operating system as language values (see datatypes/os.h). The object to
// fill is reached through its context node, which stays put; each field's value is made in a
// data-stack cell first, so it stays rooted while the field is added.
#include "datatypes/os.h"

#include <algorithm>
#include <string>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "platform/os/platform.h"
#include "runtime/throw.h"

namespace os {

Cell* command_line() {
  const std::string line = platform::command_line();
  return string::load_encoded_push(reinterpret_cast<const uint8_t*>(line.data()), line.size(),
                                   string::kUtf8);
}

const char* arch_name(std::string_view machine) {
  auto starts = [&](std::string_view prefix) { return machine.substr(0, prefix.size()) == prefix; };
  if (machine == "x86_64") return "x86-64";
  // Before arm*: a 64-bit ARM kernel says aarch64 (aarch64_be big-endian), others arm64.
  if (starts("aarch64") || machine == "arm64") return "ARM64";
  if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86-32";
  if (starts("arm")) return "ARM";
  if (machine == "ia64") return "IA-64";
  return "Unknown";
}

KernelVersion kernel_version(std::string_view release) {
  int32_t numbers[3] = {0, 0, 0};
  size_t at = 0;
  for (int32_t& number : numbers) {
    if (at >= release.size() || release[at] < '0' || release[at] > '9') break;
    int64_t n = 0;
    for (; at < release.size() && release[at] >= '0' && release[at] <= '9'; at++) {
      n = std::min<int64_t>(n * 10 + (release[at] - '0'), INT32_MAX);
    }
    number = static_cast<int32_t>(n);
    if (at >= release.size() || release[at] != '.') break;
    at++;
  }
  return {numbers[0], numbers[1], numbers[2]};
}

namespace {

// Sets the field of the object's context to the value, adding the field when it is missing.
void put_field(uint32_t node, const char* name, const Cell& value) {
  Cell word{TYPE_WORD, 0, symbol::intern_c_string(name), context::kUnresolved};
  context::set_value_at(node, context::add_word(node, word), value);
}

}  // namespace

void describe(Cell* object) {
  assert_type(*object, TYPE_OBJECT);
  const uint32_t node = object::context_of(*object);
  const platform::SystemInfo info = platform::system_info();

  std::string name = info.kernel;
  if (!info.distribution.empty() && info.distribution != name) {
    name += (name.empty() ? "" : " ") + info.distribution;
  }
  Cell* value = string::load_encoded_push(reinterpret_cast<const uint8_t*>(name.data()),
                                          name.size(), string::kUtf8);
  put_field(node, "name", *value);

  *value = word::from_c_string(arch_name(info.machine));
  put_field(node, "arch", *value);

  const KernelVersion version = kernel_version(info.release);
  const uint8_t bytes[3] = {static_cast<uint8_t>(std::clamp(version.major, 0, 255)),
                            static_cast<uint8_t>(std::clamp(version.minor, 0, 255)),
                            static_cast<uint8_t>(std::clamp(version.patch, 0, 255))};
  *value = constants::none;  // the word's flags go
  tuple::make_at(value, 3, bytes);
  put_field(node, "version", *value);

  // The tuple's last byte cannot tell patch levels past 255 (4.19.325); the build can.
  *value = integer::make(version.patch);
  put_field(node, "build", *value);
  stack::pop_cells(1);
}

void assert_type(const Cell& value, uint8_t type) {
  if (cell::type_of(value) != type) rt::fire_error("script", "invalid-arg", &value);
}

}  // namespace os
