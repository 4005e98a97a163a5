// Records a discharge as the station does and writes its report to a PDF through the report
// component's own PDF output (scripts/discharge-sample.sh, for docs/discharge.png). Run it in a
// station folder whose COM1 leads to a chain with a discharge (cellsim --discharge):
//   discharge-sample OUT.pdf [MINUTES]
// The window, offscreen, with line health and discharge tests attached as the program attaches
// them, polls until the first discharge has ended (at most MINUTES, default 10), then the
// newest record's report goes to OUT.pdf.
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <exception>

#include "app/DischargeWiring.h"
#include "app/HealthWiring.h"
#include "app/Unit1.h"
#include "discharge/Actions.h"
#include "discharge/core/Archive.h"
#include "discharge/core/Monitor.h"
#include "health/HealthMonitor.h"
#include "report/ReportDialogs.h"
#include "report/RvSystem.h"
#include "toolkit/MessageBoxes.h"

int main(int argc, char** argv) {
  const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
  if ((argc != 2 && argc != 3) || argv[1][0] == '-') {
    std::fprintf(help ? stdout : stderr, "usage: discharge-sample OUT.pdf [MINUTES] (run in a station folder)\n");
    return help ? 0 : 2;
  }
  const double minutes = argc == 3 ? std::atof(argv[2]) : 10;
  if (!(minutes > 0)) {
    std::fprintf(stderr, "discharge-sample: MINUTES must be above 0\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));

  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  const auto health = attachHealth(form);
  const auto discharges = attachDischarge(form, *health);
  bool ended = false;
  QObject::connect(discharges.get(), &discharge::Monitor::ended, &app, [&ended] {
    ended = true;
    QTimer::singleShot(0, QApplication::instance(), &QApplication::quit);
  });
  QTimer::singleShot(static_cast<int>(minutes * 60000), &app, &QApplication::quit);
  form.SpeedButton1->click();
  if (boxes.boxes.empty()) app.exec();
  if (form.SpeedButton1->text() == QStringLiteral("停止")) form.SpeedButton1->click();
  int status = 1;
  if (!ended) {
    std::fprintf(stderr, "discharge-sample: no discharge ended within %g minutes\n", minutes);
  } else {
    try {
      discharges->recorder().flush();
      discharge::Archive archive(discharges->archivePath());
      report::ScriptedReportDialogs dialogs;
      dialogs.answer = report::ScriptedReportDialogs::Answer::File;
      dialogs.fileName = QString::fromLocal8Bit(argv[1]);
      report::TRvSystem rv;
      rv.setDialogs(dialogs);
      rv.OnPrint = discharge::reportBody(discharges->archivePath(), archive.list().front().id, QDir::current().dirName());
      status = rv.Execute(&form) == report::TRvSystem::Outcome::Filed ? 0 : 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "discharge-sample: %s\n", e.what());
    }
  }
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
  return boxes.boxes.empty() ? status : 1;
}
