// Lexer throughput on typical source code: MB/s for scanning (check only, the automaton and the
// loaders' syntax checks) and for loading (values built). The source is generated: function
// definitions with blocks, paths, strings, numbers and comments, as scripts are written.
#include <benchmark/benchmark.h>

#include <string>

#include "datatypes/stack.h"
#include "lexer/lexer.h"

namespace {

std::string typical_source(size_t size) {
  static const char* const kLines[] = {
      "; Compute the running totals of a list of orders\n",
      "totals: function [orders [block!] /local sum item] [\n",
      "    sum: 0.0\n",
      "    foreach item orders [\n",
      "        if item/amount > 1'000 [sum: sum + (item/amount * 0.95)]\n",
      "        print [\"Order\" item/id \"total:\" sum \"at\" 50% #\"^-\"]\n",
      "    ]\n",
      "    append result reduce [name: \"total\" value: sum flag: #(true)]\n",
      "    either find keys 'total [keys/total: sum] [insert keys [total 0]]\n",
      "]\n",
      "config: [width 640 height 480 title {Main window {draft}} bytes #{DEADBEEF}]\n",
      "while [counter < 10] [counter: counter + 1 data/:counter: -2147483648]\n",
  };
  std::string text;
  while (text.size() < size) {
    for (const char* line : kLines) text += line;  // whole cycles: every bracket closes
  }
  return text;
}

const std::string& source() {
  static const std::string text = typical_source(1 << 20);
  return text;
}

void run(benchmark::State& state, bool load) {
  const std::string& text = source();
  lexer::Mode mode;
  mode.load = load;
  for (auto _ : state) {
    Cell* out = stack::push_new();
    *out = Cell{TYPE_NONE, 0, 0, 0};
    benchmark::DoNotOptimize(lexer::scan(out, reinterpret_cast<const uint8_t*>(text.data()),
                                         text.size(), mode, nullptr, nullptr, nullptr));
    stack::pop_cells(1);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_LexerScan(benchmark::State& state) { run(state, false); }
void BM_LexerLoad(benchmark::State& state) { run(state, true); }
BENCHMARK(BM_LexerScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LexerLoad)->Unit(benchmark::kMillisecond);

}  // namespace
