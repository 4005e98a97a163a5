#include <QApplication>

#include "app/HealthWiring.h"
#include "app/Unit1.h"
#include "toolkit/MessageBoxes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));
  toolkit::QtMessageBoxes boxes;
  TForm1 Form1(boxes);
  const auto health = attachHealth(Form1);
  Form1.show();
  return app.exec();
}
