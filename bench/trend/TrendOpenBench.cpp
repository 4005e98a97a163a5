// Opening a year of one cell on the history chart, as the operator does from its context menu
// (1 年): the archive read, condensed to the plot's columns, and the chart painted, on the real
// history view offscreen. The archive is a full year of the largest station (99 units x 108
// cells, a run every 180 s), as bench_archive leaves it in FOLDER/year:
//   bench_archive 0 0 FOLDER && bench_trend FOLDER/year
// The year there is 2025 (UTC); unit 50, cell 7 and the total are opened six times each.
#include <QApplication>
#include <QEventLoop>
#include <QDateTime>
#include <QFrame>
#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "history/HistoryView.h"
#include "store/StationStore.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/MessageBoxes.h"
#include "toolkit/QueryChart.h"
#include "trend/TrendView.h"

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_trend ARCHIVE_FOLDER (bench_archive's FOLDER/year)\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  store::StationStore db;  // not connected: the stored day is never drawn here
  QWidget window;
  window.resize(753, 560);
  toolkit::RecordingMessageBoxes boxes;
  toolkit::HandlerGuard guard(boxes, &window);
  int unit = 50;
  auto* view = new history::HistoryView(&window, db, [&unit] { return unit; });
  window.show();
  trend::TrendView trend(*view, guard, QString::fromLocal8Bit(argv[1]), QStringLiteral("bench"));
  trend.now = [] { return QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch(); };
  // The chart already shown, as when the operator picks 1 年 from its menu.
  trend.choose(trend::Span::Year);
  view->DBChart1->show();
  view->Panel3->show();
  QEventLoop loaded;
  QObject::connect(&trend, &trend::TrendView::curveLoaded, &loaded, &QEventLoop::quit);
  for (const char* selector : {"7", "总电压"}) {
    std::vector<double> ms, cpu, blocked;
    for (int i = 0; i < 6; ++i) {
      const std::clock_t cpuStart = std::clock();
      const auto start = std::chrono::steady_clock::now();
      view->show(QString::fromUtf8(selector));
      // What the window's thread spends before its loop turns again; the reading goes on
      // on its own thread.
      blocked.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      loaded.exec();
      QApplication::processEvents();
      const QPixmap shown = view->DBChart1->grab();
      ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      cpu.push_back(1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
      if (shown.isNull() || view->DBChart1->bandLow().isEmpty()) {
        std::fprintf(stderr, "bench_trend: nothing drawn: %s\n", qPrintable(view->DBChart1->title()));
        return 1;
      }
    }
    std::printf("one-year curve of unit 50, %s: first %.1f ms, then median %.1f ms wall, %.1f ms CPU (%lld columns); "
                "window's thread held %.2f ms at most\n",
                selector, ms.front(), median({ms.begin() + 1, ms.end()}), median({cpu.begin() + 1, cpu.end()}),
                static_cast<long long>(view->DBChart1->bandLow().size()), *std::max_element(blocked.begin(), blocked.end()));
  }
  return 0;
}
