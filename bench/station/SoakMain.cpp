// Soak run: the whole station (real window offscreen, real Comm1, real db1.mdb) polling a
// simulated chain of 99 units of 108 cells at an interval of 0.4 s, for 10 minutes by default.
// Prints the polling cycle time, the delay from a reply's last byte to its values in the
// tables, the event loop's lateness, sampling rows and memory.
// With "alarms" as the second argument, line health is attached and every alarm limit is set
// (none of them crossed by the simulated chain), so every cell of every reply is checked.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string_view>

#include "SoakFigures.h"
#include "acquisition/polling/StationDb.h"
#include "app/HealthWiring.h"
#include "app/Unit1.h"
#include "comm/TComm.h"
#include "toolkit/MessageBoxes.h"
#include "toolkit/PollTimer.h"

namespace {

constexpr int kUnits = 99;
constexpr int kCells = 108;
constexpr std::size_t kReplyBytes = 12 + 2 * kCells;

std::int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool run(const QString& program, const QStringList& args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedChannels);
  p.start(program, args);
  return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;

  QTemporaryDir folder;
  if (!folder.isValid()) return 1;
  QDir::setCurrent(folder.path());
  if (!run(QStringLiteral("bash"), {QStringLiteral(CELLSTATION_SOURCE_DIR "/scripts/make-station-db.sh"), folder.path(),
                                    QStringLiteral("0.4"), QString::number(kUnits)}))
    return 1;
  const QString replyLog = folder.filePath(QStringLiteral("replies.log"));
  QProcess sim;
  sim.setProcessChannelMode(QProcess::ForwardedChannels);
  sim.start(QStringLiteral(CELLSIM_PATH), {QStringLiteral("--link"), folder.filePath(QStringLiteral("COM1")),
                                           QStringLiteral("--units"), QString::number(kUnits), QStringLiteral("--cells"),
                                           QString::number(kCells), QStringLiteral("--reply-log"), replyLog});
  if (!sim.waitForStarted(10000)) return 1;
  for (int i = 0; i < 100 && !QFileInfo(folder.filePath(QStringLiteral("COM1"))).isSymLink(); ++i)
    QThread::msleep(50);

  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  std::unique_ptr<health::HealthMonitor> health;
  const bool alarms = argc > 2 && std::string_view(argv[2]) == "alarms";
  if (alarms) {
    health = attachHealth(form);
    health::Limits limits;
    limits[health::Limit::CellLow] = 1.5;
    limits[health::Limit::CellHigh] = 3.0;
    limits[health::Limit::TotalLow] = 100;
    limits[health::Limit::TotalHigh] = 290;
    limits[health::Limit::Spread] = 1.0;
    health->applyLimits(limits);
  }
  form.show();

  // The station's own reply handler runs first; the time after it is when the values are in
  // the tables.
  std::vector<soak::ReceivedBlock> blocks;
  blocks.reserve(static_cast<std::size_t>(minutes * 60 / 0.4) + 1000);
  std::map<std::size_t, int> blockSizes;
  const comm::TReceiveDataEvent stationHandler = form.Comm1->OnReceiveData();
  form.Comm1->SetOnReceiveData([&](comm::TComm* sender, const std::uint8_t* buffer, std::uint16_t length) {
    stationHandler(sender, buffer, length);
    blocks.push_back({nowNs(), length > 5 ? buffer[5] : -1, length});
    ++blockSizes[length];
  });

  // Ticks, as the window handles them (this slot is connected after the window's own).
  std::vector<double> cycleMs;
  std::vector<double> tickMs;
  tickMs.assign(blocks.capacity(), 0.0);
  tickMs.clear();
  cycleMs.reserve(blocks.capacity());
  blocks.resize(blocks.capacity());
  blocks.clear();
  std::int64_t lastTick = 0, lastCycle = 0;
  long ticks = 0, silentReports = 0;
  QString lastLabel8;
  QObject::connect(form.Timer1, &toolkit::PollTimer::tick, [&] {
    const std::int64_t t = nowNs();
    ++ticks;
    if (lastTick) tickMs.push_back(static_cast<double>(t - lastTick) / 1e6);
    lastTick = t;
    if (form.polling->CurrentUnit == 1) {
      if (lastCycle) cycleMs.push_back(static_cast<double>(t - lastCycle) / 1e6);
      lastCycle = t;
    }
    if (!form.Label8->text().isEmpty() && form.Label8->text() != lastLabel8) ++silentReports;
    lastLabel8 = form.Label8->text();
  });

  // The window's responsiveness: how late a 20 ms timer fires.
  std::vector<double> lateMs;
  // The figures' own storage is made resident up front, so it does not show as growth of the station.
  // Written once and cleared, so their pages are resident before the first minute ends.
  lateMs.assign(static_cast<std::size_t>(minutes * 60 * 50) + 1000, 0.0);
  lateMs.clear();
  QElapsedTimer beat;
  QTimer heartbeat;
  heartbeat.setTimerType(Qt::PreciseTimer);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    lateMs.push_back(std::max<double>(0, static_cast<double>(beat.nsecsElapsed()) / 1e6 - 20));
    beat.restart();
  });

  // Memory every 10 s; growth counts from the end of the first minute.
  long rssAtMinute = 0, rssMax = 0;
  std::vector<long> rssByMinute;
  QElapsedTimer clock;
  QTimer memory;
  QObject::connect(&memory, &QTimer::timeout, [&] {
    const long rss = soak::residentKb();
    rssMax = std::max(rssMax, rss);
    if (!rssAtMinute && clock.elapsed() >= 60000) rssAtMinute = rss;
    if (clock.elapsed() >= static_cast<qint64>(rssByMinute.size() + 1) * 60000) rssByMinute.push_back(rss);
  });

  form.SpeedButton1->click();
  if (!boxes.boxes.empty() || !form.Comm1->IsOpen()) {
    std::fprintf(stderr, "the station did not start polling: %s\n", qPrintable(boxes.texts(toolkit::MessageBoxes::Kind::Error).join('\n')));
    return 1;
  }
  clock.start();
  beat.start();
  heartbeat.start(20);
  memory.start(10000);
  QTimer::singleShot(static_cast<int>(minutes * 60000), &app, &QApplication::quit);
  app.exec();
  const long rssEnd = soak::residentKb();
  form.SpeedButton1->click();
  sim.terminate();
  sim.waitForFinished(10000);

  const auto sent = soak::readReplyLog(replyLog.toStdString());
  std::vector<soak::ReceivedBlock> whole;
  for (const auto& b : blocks)
    if (b.bytes == kReplyBytes) whole.push_back(b);
  const soak::Pairing paired = soak::pair(sent, whole);

  StationDb db(folder.filePath(QStringLiteral("db1.mdb")));
  int rowsMin = 1 << 30, rowsMax = 0;
  for (int u = 1; u <= kUnits; ++u) {
    const int r = db.rows(QStringLiteral("measure%1").arg(u));
    rowsMin = std::min(rowsMin, r);
    rowsMax = std::max(rowsMax, r);
  }

  std::printf("soak: %d units x %d cells, interval 0.4 s, %.1f min%s\n", kUnits, kCells, minutes,
              alarms ? ", line health on, every alarm limit set" : "");
  std::printf("ticks                  %ld (%.1f per s); tick period median %.1f ms, p99 %.1f ms, max %.1f ms\n", ticks,
              static_cast<double>(ticks) / (minutes * 60), soak::percentile(tickMs, 50), soak::percentile(tickMs, 99),
              soak::percentile(tickMs, 100));
  long slowTicks = 0, hurriedTicks = 0;
  for (double p : tickMs) {
    slowTicks += p > 600 ? 1 : 0;
    hurriedTicks += p < 300 ? 1 : 0;
  }
  std::printf("tick period min        %.1f ms; ticks over 600 ms apart %ld, under 300 ms apart %ld\n",
              soak::percentile(tickMs, 0), slowTicks, hurriedTicks);
  std::printf("polling cycle (99 units) median %.2f s, max %.2f s over %zu cycles\n", soak::percentile(cycleMs, 50) / 1000,
              soak::percentile(cycleMs, 100) / 1000, cycleMs.size());
  std::printf("replies sent           %zu; blocks received %zu, of them whole %zu (sizes:", sent.size(), blocks.size(), whole.size());
  for (const auto& [size, count] : blockSizes) std::printf(" %zu x%d", size, count);
  std::printf(")\n");
  std::printf("silent-unit reports    %ld; error boxes %zu\n", silentReports, boxes.boxes.size());
  for (const auto& b : boxes.boxes) std::printf("  box: %s\n", qPrintable(b.text));
  std::printf("reply last byte -> tables: median %.1f ms, p99 %.1f ms, max %.1f ms (%zu paired, %zu unpaired)\n",
              soak::percentile(paired.delaysMs, 50), soak::percentile(paired.delaysMs, 99),
              soak::percentile(paired.delaysMs, 100), paired.delaysMs.size(), paired.unmatchedBlocks);
  std::printf("event loop lateness    median %.2f ms, p99 %.2f ms, max %.1f ms\n", soak::percentile(lateMs, 50),
              soak::percentile(lateMs, 99), soak::percentile(lateMs, 100));
  std::printf("sampling runs          expected %ld; rows per unit table min %d, max %d\n", ticks / 450, rowsMin, rowsMax);
  std::printf("memory                 peak RSS %ld kB; RSS at 1 min %ld kB, max after %ld kB, at end %ld kB; growth after 1 min %ld kB\n",
              soak::peakResidentKb(), rssAtMinute, rssMax, rssEnd, rssEnd - rssAtMinute);
  std::printf("RSS by minute (kB)    ");
  for (long r : rssByMinute) std::printf(" %ld", r);
  std::printf("\n");
  form.close();
  health.reset();
  return 0;
}
