// Renders the station window with the history view open into a PNG file: the curve of cell 7
// of unit 2, opened by a double click on its row. Run it in a station folder whose db1.mdb
// holds a day of samples (scripts/screenshot.sh gives it one): history-screenshot OUT.png
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "app/Unit1.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/MessageBoxes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: history-screenshot OUT.png (run in a station folder)\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));

  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  form.SpinEdit2->setValue(2);
  form.ValueListEditor1->selectRow(2);  // cell 7
  form.ValueListEditor1DblClick(form.ValueListEditor1);
  QApplication::processEvents();
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
  if (!boxes.boxes.empty()) return 1;

  if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
