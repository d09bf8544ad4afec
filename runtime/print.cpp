// Low-level typed print and the hook lists. Each piece of text goes to standard output through
// platform::write_text, then to the output hooks. The hook lists live on the tracked heap and
// grow by 5 entries when full.
#include "runtime/print.h"

#include <cstdio>
#include <cstring>

#include "platform/os/console.h"
#include "runtime/heap.h"

namespace rt {

namespace {

template <class Hook>
struct HookList {
  Hook* entries;
  uint32_t capacity;
  uint32_t count;

  void reset() {
    rt::heap_free(entries);
    entries = static_cast<Hook*>(rt::heap_alloc(sizeof(Hook) * kGrowth));
    capacity = kGrowth;
    count = 0;
  }

  void append(Hook hook) {
    if (count == capacity) {
      auto* grown = static_cast<Hook*>(rt::heap_alloc(sizeof(Hook) * (capacity + kGrowth)));
      std::memcpy(grown, entries, sizeof(Hook) * count);
      rt::heap_free(entries);
      entries = grown;
      capacity += kGrowth;
    }
    entries[count++] = hook;
  }

  static constexpr uint32_t kGrowth = 5;
};

HookList<PrintHook> print_hooks{nullptr, 0, 0};
HookList<OutputHook> output_hooks{nullptr, 0, 0};

}  // namespace

void init_hooks() {
  print_hooks.reset();
  output_hooks.reset();
}

void register_hooks(PrintHook print_hook, OutputHook output_hook) {
  if (print_hook) print_hooks.append(print_hook);
  if (output_hook) output_hooks.append(output_hook);
}

void run_print_hooks(const Cell* value, int flag) {
  for (uint32_t i = 0; i < print_hooks.count; ++i) print_hooks.entries[i](value, flag);
}

void run_output_hooks(const void* text, size_t length, int unit) {
  for (uint32_t i = 0; i < output_hooks.count; ++i) output_hooks.entries[i](text, length, unit);
}


namespace {

void emit(const char* text, size_t length) {
  platform::write_text(text, length, 0);
  rt::run_output_hooks(text, length, 0);
}

void emit_item(const PrintItem& item) {
  char number[32];
  int n = 0;
  switch (item.type) {
    case PrintItem::kLogic:
      emit(item.logic ? "true" : "false", item.logic ? 4 : 5);
      return;
    case PrintItem::kByte:
      print_byte(static_cast<uint8_t>(item.integer));
      return;
    case PrintItem::kString:
      if (item.text) emit(item.text, std::strlen(item.text));  // a null string prints nothing
      return;
    case PrintItem::kInteger:
      n = std::snprintf(number, sizeof number, "%i", item.integer);
      break;
    case PrintItem::kFloat32:
      n = std::snprintf(number, sizeof number, "%.7g", static_cast<double>(item.float32));
      break;
    case PrintItem::kFloat64:
      n = std::snprintf(number, sizeof number, "%.16g", item.float64);
      break;
    case PrintItem::kPointer:
      // Eight digits at least; a 64-bit address keeps all of its digits.
      n = std::snprintf(number, sizeof number, "%08zX", reinterpret_cast<size_t>(item.pointer));
      break;
  }
  emit(number, static_cast<size_t>(n));
}

}  // namespace

void print(std::initializer_list<PrintItem> items) {
  for (const PrintItem& item : items) emit_item(item);
}

void print_line(std::initializer_list<PrintItem> items) {
  print(items);
  emit("\n", 1);
}

void print_byte(uint8_t byte) {
  char c = static_cast<char>(byte);
  emit(&c, 1);
}

}  // namespace rt
