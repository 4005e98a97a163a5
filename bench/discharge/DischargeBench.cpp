// Discharge tests: the cost of one reply on the polling thread while all 99 units of 108 cells
// are in discharge (detection, the sample's copy, the queue), and the report of a four-hour
// recording of a 108-cell unit polled alone every 0.4 s (36 000 samples).
//
//   build/bench/bench/discharge/bench_discharge
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <vector>

#include "discharge/Report.h"
#include "discharge/core/Archive.h"
#include "discharge/core/Judgement.h"
#include "discharge/core/Monitor.h"

using namespace discharge;

namespace {

constexpr qint64 kT0 = 1'765'000'000'000;

// One reply handled; every 2000 replies the writer is let catch up outside the timing, so the
// queue always has room and every reply takes the full path. refused must stay 0.
void BM_ReplyWhileRecording(benchmark::State& state) {
  QTemporaryDir dir;
  Monitor m(dir.path(), dir.filePath(QStringLiteral("db1.mdb")));
  std::vector<double> cells(108, 1.95);
  qint64 t = kT0;
  for (int round = 0; round < 2; ++round)
    for (int u = 1; u <= 99; ++u) m.takeReply(u, t += 400, cells, 210.6);
  std::size_t n = 0;
  for (auto _ : state) {
    const int unit = static_cast<int>(n % 99) + 1;
    cells[n % 108] = 1.90 + static_cast<double>(n % 7) / 100;
    m.takeReply(unit, t += 1, cells, 210.6);  // 1 ms apart: all stay within the longest discharge
    if (++n % 2000 == 0) {
      state.PauseTiming();
      m.recorder().flush();
      state.ResumeTiming();
    }
  }
  m.recorder().flush();
  state.counters["refused"] = static_cast<double>(m.recorder().refused());
  state.counters["recording"] = 0;
  for (int u = 1; u <= 99; ++u) state.counters["recording"] += m.recording(u) ? 1 : 0;
}
BENCHMARK(BM_ReplyWhileRecording)->Unit(benchmark::kMicrosecond);

Recording fourHours() {
  Recording r;
  r.record.unit = 1;
  r.record.cells = 108;
  r.record.startMs = kT0;
  r.record.endMs = kT0 + 4 * 3600 * 1000LL;
  r.record.ratedMinutes = 240;
  r.cells = 108;
  Sample s;
  s.cells = 108;
  for (int i = 0; i < 36000; ++i) {
    s.timeMs = kT0 + i * 400LL;
    const double f = i / 36000.0;
    s.totalMv = 0;
    for (int k = 0; k < 108; ++k) {
      const double rate = k % 17 == 3 ? 1.8 : 1.0 + (k % 5) * 0.01;
      const double v = 2.05 - 0.1 * f * rate - (f > 0.8 ? (f - 0.8) * (f - 0.8) * 25 * 0.15 * rate * rate : 0);
      s.cellMv[static_cast<std::size_t>(k)] = static_cast<int>(v * 100) * 10;
      s.totalMv += s.cellMv[static_cast<std::size_t>(k)];
    }
    s.totalMv = s.totalMv / 100 * 100;
    r.append(s);
  }
  return r;
}

// Judging and writing both pages into a PDF file.
void BM_ReportOfFourHours(benchmark::State& state) {
  const Recording r = fourHours();
  QTemporaryDir dir;
  for (auto _ : state) {
    const Judgement j = judge(r, 1800);
    writeReportPdf(dir.filePath(QStringLiteral("report.pdf")), QStringLiteral("bench"), r, j);
  }
}
BENCHMARK(BM_ReportOfFourHours)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Loading the same recording from the archive (before the report can be judged).
void BM_LoadFourHours(benchmark::State& state) {
  QTemporaryDir dir;
  const QString file = archiveFile(dir.path());
  qint64 id = 0;
  {
    const Recording r = fourHours();
    Archive a(file);
    a.begin();
    id = a.insertRecord(r.record);
    Sample s;
    s.cells = 108;
    for (std::size_t i = 0; i < r.size(); ++i) {
      s.timeMs = r.times[i];
      s.totalMv = r.totals[i];
      for (int k = 1; k <= 108; ++k) s.cellMv[static_cast<std::size_t>(k - 1)] = r.cell(i, k);
      a.insertSample(id, s);
    }
    a.endRecord(id, *r.record.endMs, EndReason::Recovered);
    a.commit();
  }
  Archive a(file);
  for (auto _ : state) benchmark::DoNotOptimize(a.load(id).size());
}
BENCHMARK(BM_LoadFourHours)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
