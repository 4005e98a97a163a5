// Time to apply one reply of 108 cells (228 bytes) to the measurement tables. Run with
// --benchmark_repetitions to get the median; the registered cases repeat 20 times by default.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "acquisition/core/ReplyDecoder.h"
#include "protocol/Frames.h"

namespace {

std::vector<std::uint8_t> fullReply() {
  std::vector<double> cells(108);
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = 3.2 + 0.01 * static_cast<double>(i % 60);
  return protocol::buildReply(17, 356.0, cells);
}

void applyFullReply(benchmark::State& state, bool damaged) {
  std::vector<std::uint8_t> block = fullReply();
  if (damaged) block.back() ^= 0xFF;
  auto tables = std::make_unique<acquisition::MeasurementTables>();
  for (auto _ : state) {
    const auto outcome = acquisition::applyReply(block, *tables);
    benchmark::DoNotOptimize(outcome);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(block.size()));
}

void BM_ApplyReply228Bytes(benchmark::State& state) { applyFullReply(state, false); }
void BM_ApplyReply228BytesBadChecksum(benchmark::State& state) { applyFullReply(state, true); }

BENCHMARK(BM_ApplyReply228Bytes)->Repetitions(20)->ReportAggregatesOnly(true);
BENCHMARK(BM_ApplyReply228BytesBadChecksum)->Repetitions(20)->ReportAggregatesOnly(true);

}  // namespace
