// The terminal tab's per-batch work against the output pane's, on the same firmware output.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "output_history.h"
#include "terminal.h"

namespace {

constexpr size_t kBatch = 4096;

const std::string& floodOutput() {
  static const std::string bytes = [] {
    std::string s;
    for (unsigned n = 0; s.size() < (1u << 20); ++n) s += "line " + std::to_string(n) + "\r\n";
    return s;
  }();
  return bytes;
}

void BM_TerminalScreen(benchmark::State& state) {
  const std::string& bytes = floodOutput();
  for (auto _ : state) {
    korvel::simapp::TerminalScreen screen;
    for (size_t at = 0; at < bytes.size(); at += kBatch) {
      screen.feed(std::string_view(bytes).substr(at, kBatch));
      benchmark::DoNotOptimize(screen.update());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_TerminalScreen)->Unit(benchmark::kMillisecond);

void BM_OutputHistory(benchmark::State& state) {
  const std::string& bytes = floodOutput();
  for (auto _ : state) {
    korvel::simapp::OutputHistory history;
    std::string line;
    for (size_t at = 0; at < bytes.size(); at += kBatch) {
      std::vector<std::string> batch;
      for (char c : std::string_view(bytes).substr(at, kBatch)) {
        if (c == '\n') batch.push_back(std::move(line)), line.clear();
        else if (c != '\r') line.push_back(c);
      }
      benchmark::DoNotOptimize(history.add(batch));
      benchmark::DoNotOptimize(history.appended());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_OutputHistory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
