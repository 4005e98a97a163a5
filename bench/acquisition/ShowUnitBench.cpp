// Time to redraw the six cell tables and the total of one unit with all 108 cells, on the real
// window, offscreen. Three cases:
//   Changing        every call writes new texts (two units with different values alternate)
//   Unchanged       the same unit again: every text is compared and left as it is
//   ChangingPainted as Changing, plus painting the window at once, as the event loop would
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "app/Unit1.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/MessageBoxes.h"

namespace {

struct Window {
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form{boxes};

  Window() {
    for (int t = 1; t <= 6; ++t)
      for (int r = 1; r <= 18; ++r) form.cellTable(t)->setKey(r, QString::number(acquisition::cellAt(t, r)));
    for (int u = 1; u <= 2; ++u) {
      form.polling->tables.CellCount[u] = 108;
      form.polling->tables.TotalVoltage[u] = 350.0 + u;
      for (int k = 1; k <= 108; ++k) form.polling->tables.CellVoltage[u][k] = 3.0 + 0.001 * (k + 200 * u);
    }
  }
};

Window* window = nullptr;

void BM_ShowUnitChanging(benchmark::State& state) {
  int u = 1;
  for (auto _ : state) {
    window->form.ShowUnit(u);
    u = 3 - u;
  }
}

void BM_ShowUnitUnchanged(benchmark::State& state) {
  window->form.ShowUnit(1);
  for (auto _ : state) window->form.ShowUnit(1);
}

void BM_ShowUnitChangingPainted(benchmark::State& state) {
  int u = 1;
  for (auto _ : state) {
    window->form.ShowUnit(u);
    window->form.repaint();
    u = 3 - u;
  }
}

BENCHMARK(BM_ShowUnitChanging)->Unit(benchmark::kMicrosecond)->Repetitions(20)->ReportAggregatesOnly(true);
BENCHMARK(BM_ShowUnitUnchanged)->Unit(benchmark::kMicrosecond)->Repetitions(20)->ReportAggregatesOnly(true);
BENCHMARK(BM_ShowUnitChangingPainted)->Unit(benchmark::kMicrosecond)->Repetitions(10)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The window is shown in an empty folder, so its start-up touches no station files.
  QTemporaryDir folder;
  if (!folder.isValid() || !QDir::setCurrent(folder.path())) return 1;
  Window w;
  w.form.show();
  QApplication::processEvents();
  window = &w;

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
