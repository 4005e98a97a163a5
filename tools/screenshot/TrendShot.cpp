// Renders the station window with the history chart on the long-term record into a PNG file:
// cell 7 of unit 2 (the demo's weak cell) over everything the archive holds, the value axis
// fitted. Run it in a station folder whose db1.mdb holds a day of samples and whose archive/
// holds days of record (scripts/screenshot.sh: demo-history --archive-days 90):
// trend-screenshot OUT.png
#include <QDir>

#include "Shot.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"
#include "trend/TrendView.h"

#include <QEventLoop>
#include <QTimer>

int main(int argc, char** argv) {
  return shot::run(argc, argv, "trend-screenshot", [](TForm1& form, toolkit::RecordingMessageBoxes& boxes, shot::Keep& keep) {
    auto trend = std::make_shared<trend::TrendView>(*form.history, form.guard(), QDir::current().filePath(QStringLiteral("archive")),
                                                    QDir::current().dirName());
    keep = trend;
    form.show();
    form.SpinEdit2->setValue(2);
    form.ValueListEditor1->selectRow(2);  // cell 7
    form.ValueListEditor1DblClick(form.ValueListEditor1);
    trend->choose(trend::Span::All);
    trend->setAutoAxis(true);
    // The curve is read off the window's thread: drawn once its reading is back.
    QEventLoop loaded;
    QObject::connect(trend.get(), &trend::TrendView::curveLoaded, &loaded, &QEventLoop::quit);
    QTimer::singleShot(60000, &loaded, &QEventLoop::quit);
    loaded.exec();
    // The hour axis taken off the chart leaves its drawing to a deferred delete, which the
    // station's running event loop carries out; the tool has none.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return boxes.boxes.empty() && !form.DBChart1->bandLow().isEmpty();
  });
}
