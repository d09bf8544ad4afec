// Low-level typed print for diagnostics below the language, and the two hook lists that let the
// GUI console capture what is printed: print hooks (each value the language prints) and output
// hooks (every low-level write to standard output). Relies on platform::write_text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>

struct Cell;

namespace rt {

// One printed item: logic "true"/"false", integer "%i", byte (one character), float32 "%.7g",
// float64 "%.16g", NUL-terminated string, pointer (upper-case hex, at least eight digits).
struct PrintItem {
  enum Type : uint32_t { kLogic = 1, kInteger, kByte, kFloat32, kFloat64, kString, kPointer };

  PrintItem(bool value) : type(kLogic), logic(value) {}
  PrintItem(int32_t value) : type(kInteger), integer(value) {}
  PrintItem(float value) : type(kFloat32), float32(value) {}
  PrintItem(double value) : type(kFloat64), float64(value) {}
  PrintItem(const char* value) : type(kString), text(value) {}
  PrintItem(const void* value) : type(kPointer), pointer(value) {}
  static PrintItem byte(uint8_t value) {
    PrintItem item(static_cast<int32_t>(value));
    item.type = kByte;
    return item;
  }

  Type type;
  union {
    bool logic;
    int32_t integer;
    float float32;
    double float64;
    const char* text;
    const void* pointer;
  };
};

void print(std::initializer_list<PrintItem> items);       // back to back, no separator
void print_line(std::initializer_list<PrintItem> items);  // the same, then a line feed
void print_byte(uint8_t byte);


using PrintHook = void (*)(const Cell* value, int flag);
// text: length units of the given unit (0: UTF-8 bytes, 1, 2, 4: as platform::write_text).
using OutputHook = void (*)(const void* text, size_t length, int unit);

void init_hooks();  // both lists empty, room for 5 each; first of all at start-up
void register_hooks(PrintHook print_hook, OutputHook output_hook);  // nulls are skipped
void run_print_hooks(const Cell* value, int flag);                  // in registration order
void run_output_hooks(const void* text, size_t length, int unit);

}  // namespace rt
