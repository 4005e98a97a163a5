// The history view on the real window, offscreen, over full sample tables (480 rows a unit):
//   Open        an opening from a double click: the query, the series and the first paint
//   SwitchUnit  the selected unit changes while the view is shown: the tables, the query, the
//               series and the first paint
//   Openings    1000 openings in a row; reports the resident memory after the first ten and
//               its growth over the remaining 990 (series and query released, nothing kept)
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "DemoDay.h"
#include "app/Unit1.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/MessageBoxes.h"

namespace {

TForm1* form = nullptr;

// What the operator sees at once: the events the opening posted, then the chart painted. The
// chart releases a replaced series' drawing with deleteLater, which only a running event loop
// carries out; the benchmark has none, so it hands those over as the loop would.
void paint() {
  QApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  const QPixmap shown = form->DBChart1->grab();
  benchmark::DoNotOptimize(shown.cacheKey());
}

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_Open(benchmark::State& state) {
  form->SpinEdit2->setValue(1);
  int cell = 7;
  for (auto _ : state) {
    form->ShowHistory(QString::number(cell));
    paint();
    cell = cell == 7 ? 8 : 7;
  }
}

void BM_SwitchUnit(benchmark::State& state) {
  form->SpinEdit2->setValue(1);
  form->ShowHistory(QStringLiteral("总电压"));
  paint();
  for (auto _ : state) {
    form->SpinEdit2->setValue(form->SpinEdit2->value() == 1 ? 2 : 1);
    paint();
  }
}

void BM_Openings(benchmark::State& state) {
  for (auto _ : state) {
    long afterTen = 0;
    for (int i = 0; i < 1000; ++i) {
      form->ShowHistory(QString::number(i % 108 + 1));
      paint();
      if (i == 9) afterTen = residentKiB();
    }
    state.counters["rss_after_10_KiB"] = double(afterTen);
    state.counters["rss_growth_KiB"] = double(residentKiB() - afterTen);
  }
}

BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_SwitchUnit)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_Openings)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  if (!folder.isValid() || !QDir::setCurrent(folder.path())) return 1;
  QProcess make;
  make.start(QStringLiteral("bash"), {QStringLiteral(CELLSTATION_SOURCE_DIR "/scripts/make-station-db.sh"),
                                      folder.path(), QStringLiteral("5"), QStringLiteral("2")});
  if (!make.waitForFinished(30000) || make.exitCode() != 0) return 1;

  toolkit::RecordingMessageBoxes boxes;
  TForm1 window(boxes);
  window.show();
  QApplication::processEvents();
  demo::storeDay(window.ADOConnection1, 2, 108);
  form = &window;

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
  return boxes.boxes.empty() ? 0 : 1;
}
