// Renders the cell comparison (单体对比) of unit 2 over everything the archive holds into a PNG
// file, as the history chart's context menu opens it. Run it in a station folder as for
// trend-screenshot: compare-screenshot OUT.png
#include <QDialog>
#include <QDir>

#include "Shot.h"
#include "toolkit/ArrowSpinBox.h"
#include "trend/TrendView.h"

int main(int argc, char** argv) {
  const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(help ? stdout : stderr, "usage: compare-screenshot OUT.png (run in a station folder)\n");
    return help ? 0 : 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  bool saved = false;
  {
    trend::TrendView trend(*form.history, form.guard(), QDir::current().filePath(QStringLiteral("archive")),
                           QDir::current().dirName());
    form.show();
    form.SpinEdit2->setValue(2);
    form.ShowHistory(QStringLiteral("7"));
    trend.choose(trend::Span::All);
    trend.runDialog = [&](QDialog& dialog) {
      dialog.show();
      QApplication::processEvents();
      saved = dialog.grab().save(QString::fromLocal8Bit(argv[1]));
    };
    form.guard().run([&] { trend.openComparison(); });
  }
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
  if (!saved) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
