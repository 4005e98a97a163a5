#include <QApplication>
#include <QDir>

#include "app/Unit1.h"
#include "log/StationLog.h"
#include "toolkit/MessageBoxes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));
  stationlog::install(QDir::currentPath());
  toolkit::QtMessageBoxes boxes;
  TForm1 Form1(boxes);
  Form1.show();
  return app.exec();
}
