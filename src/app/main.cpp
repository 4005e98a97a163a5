#include <QApplication>

#include "app/Publishing.h"
#include "app/Unit1.h"
#include "toolkit/MessageBoxes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));
  toolkit::QtMessageBoxes boxes;
  TForm1 Form1(boxes);
  // Declared after the window, so it stops (and says "offline") before the window goes.
  const auto publishing = attachPublishing(Form1);
  Form1.show();
  return app.exec();
}
