// The printed report: generating the page and writing it to a PDF file, and how late a 20 ms
// timer gets on the main thread while reports are generated (the event loop must not stall).
//
//   build/bench/bench/history/bench_report --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>

#include "app/Unit1.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/MessageBoxes.h"
#include "report/ReportDialogs.h"
#include "report/RvSystem.h"

namespace {

struct Station {
  QTemporaryDir dir;
  toolkit::RecordingMessageBoxes boxes;
  report::ScriptedReportDialogs dialogs;
  TForm1 form{boxes};
  Station() {
    form.RvSystem1->setDialogs(dialogs);
    dialogs.answer = report::ScriptedReportDialogs::Answer::File;
    dialogs.fileName = dir.filePath(QStringLiteral("report.pdf"));
    // A full unit: every cell printed as a number.
    form.polling->tables.CellCount[1] = 108;
    for (int c = 1; c <= 108; ++c) form.polling->tables.CellVoltage[1][c] = 2 + c / 1000.0;
  }
};

// One run of the report to a PDF file: generation, recording and writing the file.
void BM_ReportPageToPdf(benchmark::State& state) {
  Station s;
  for (auto _ : state) {
    const auto outcome = s.form.RvSystem1->Execute(&s.form);
    if (outcome != report::TRvSystem::Outcome::Filed) state.SkipWithError("the report was not written");
    s.dialogs.statusTexts.clear();
  }
}
BENCHMARK(BM_ReportPageToPdf)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Generation alone: the page recorded, then handed to a preview that draws nothing.
void BM_ReportGenerationOnly(benchmark::State& state) {
  Station s;
  s.dialogs.answer = report::ScriptedReportDialogs::Answer::Preview;
  for (auto _ : state) {
    s.form.RvSystem1->Execute(&s.form);
    s.dialogs.statusTexts.clear();
  }
}
BENCHMARK(BM_ReportGenerationOnly)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Reports generated back to back while a 20 ms timer runs. max_lateness_ms: the largest delay of
// a tick beyond its due time. A 20 ms timer can fall into step with runs of about 20 ms and
// always come due while events are let through, so longest_stall_ms adds the longest stretch
// between two turns of the event loop, seen by a timer that fires at every turn.
void BM_TimerLatenessWhileGenerating(benchmark::State& state) {
  Station s;
  double worstLate = 0, worstStall = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    qint64 lastTick = -1, lastTurn = -1;
    QTimer tick, turn;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(20);
    turn.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      if (lastTick >= 0) worstLate = std::max(worstLate, (now - lastTick) / 1e6 - 20.0);
      lastTick = now;
    });
    QObject::connect(&turn, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      if (lastTurn >= 0) worstStall = std::max(worstStall, (now - lastTurn) / 1e6);
      lastTurn = now;
    });
    clock.start();
    tick.start();
    turn.start();
    for (int i = 0; i < 10; ++i) {
      s.form.RvSystem1->Execute(&s.form);
      QCoreApplication::processEvents();
    }
    tick.stop();
    turn.stop();
    s.dialogs.statusTexts.clear();
  }
  state.counters["max_lateness_ms"] = worstLate;
  state.counters["longest_stall_ms"] = worstStall;
}
BENCHMARK(BM_TimerLatenessWhileGenerating)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
