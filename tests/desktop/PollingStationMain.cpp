// A station process for the signal tests: it starts as cellstation does (command line, station
// folder, the signal handler, the window) and then presses 开始 itself, so a test can stop a
// station that is polling. Once a reply has been decoded it prints "polling" on stdout. Boxes
// are recorded rather than shown (nobody is there to answer them) and printed on stderr at
// the end.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "app/Unit1.h"
#include "desktop/SignalClose.h"
#include "desktop/StartUp.h"
#include "toolkit/MessageBoxes.h"

int main(int argc, char** argv) {
  const desktop::StartUp start = desktop::startFromCommandLine(argc, argv);
  if (start.exitCode) return *start.exitCode;
  QApplication app(argc, argv);
  desktop::setDesktopIdentity(app);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 Form1(boxes);
  desktop::SignalClose closeOnSignal([&Form1] { Form1.close(); });
  Form1.show();
  Form1.SpeedButton1->click();
  QTimer watch;
  bool told = false;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (told || Form1.polling->tables.CellCount[1] == 0) return;
    told = true;
    std::puts("polling");
    std::fflush(stdout);
  });
  watch.start(20);
  const int code = app.exec();
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", box.text.toUtf8().constData());
  return code;
}
