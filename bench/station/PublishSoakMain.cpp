// Soak run with publishing on: the whole station (real window offscreen, real Comm1, real
// db1.mdb) polling 99 simulated units of 108 cells every 0.4 s, publishing every reply to
// Debian's mosquitto on a loopback port, with a subscriber in this process.
//   station_publish_soak [minutes] [outage minutes] [buffer messages]      (default 2 0 200)
// Prints the delay from a reply's last byte on the line to its message at the subscriber;
// with an outage, the broker is then stopped for that long and started again: the station's
// memory through the outage, the polling meanwhile, and what was buffered, dropped, delivered.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "SoakFigures.h"
#include "app/Publishing.h"
#include "app/Unit1.h"
#include "comm/TComm.h"
#include "publish/Broker.h"
#include "toolkit/MessageBoxes.h"
#include "toolkit/PollTimer.h"

namespace {

constexpr int kUnits = 99;
constexpr int kCells = 108;

void runFor(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const double minutes = argc > 1 ? std::atof(argv[1]) : 2.0;
  const double outageMinutes = argc > 2 ? std::atof(argv[2]) : 0.0;
  const int buffer = argc > 3 ? std::atoi(argv[3]) : 200;

  QTemporaryDir folder;
  if (!folder.isValid()) return 1;
  QDir::setCurrent(folder.path());
  QProcess make;
  make.start(QStringLiteral("bash"), {QStringLiteral(CELLSTATION_SOURCE_DIR "/scripts/make-station-db.sh"), folder.path(),
                                      QStringLiteral("0.4"), QString::number(kUnits)});
  if (!make.waitForFinished(60000) || make.exitCode() != 0) return 1;

  Broker broker;
  // A persistent session: the broker queues for it while it reconnects after the outage.
  Subscriber sub(broker.port(), "cellstation/soak/unit/#", "soak-dashboard", false);
  QFile ini(folder.filePath(QStringLiteral("publish.ini")));
  if (!ini.open(QIODevice::WriteOnly)) return 1;
  ini.write(QStringLiteral("[broker]\nhost=127.0.0.1\nport=%1\nreconnect_min=1\nreconnect_max=5\n[topics]\nstation=soak\n"
                           "[buffer]\nmessages=%2\n")
                .arg(broker.port())
                .arg(buffer)
                .toUtf8());
  ini.close();

  const QString replyLog = folder.filePath(QStringLiteral("replies.log"));
  QProcess sim;
  sim.setProcessChannelMode(QProcess::ForwardedChannels);
  sim.start(QStringLiteral(CELLSIM_PATH), {QStringLiteral("--link"), folder.filePath(QStringLiteral("COM1")),
                                           QStringLiteral("--units"), QString::number(kUnits), QStringLiteral("--cells"),
                                           QString::number(kCells), QStringLiteral("--reply-log"), replyLog});
  if (!sim.waitForStarted(10000)) return 1;
  for (int i = 0; i < 100 && !QFileInfo(folder.filePath(QStringLiteral("COM1"))).isSymLink(); ++i) QThread::msleep(50);

  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  // When each reply was in the tables, stamped before the publisher's slot runs (slots run in
  // the order connected): splits the delay into the line's part and the publishing part.
  std::vector<soak::SentReply> handled;
  handled.reserve(static_cast<std::size_t>(minutes * 60 / 0.4) + 1000);
  bool measuring = true;
  QObject::connect(form.polling, &acquisition::PollingController::replyHandled, [&](const acquisition::ReplyOutcome& o, int) {
    if (measuring && o.stored())
      handled.push_back({std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count(),
                         o.unit, 0});
  });
  auto publisher = attachPublishing(form);
  if (!publisher) return 1;
  // And after it: what publishing costs the reply path on the main thread.
  std::vector<double> publishCallMs;
  publishCallMs.reserve(handled.capacity());
  QObject::connect(form.polling, &acquisition::PollingController::replyHandled, [&](const acquisition::ReplyOutcome& o, int) {
    if (measuring && o.stored() && !handled.empty())
      publishCallMs.push_back(
          static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count() -
                              handled.back().ns) / 1e6);
  });
  form.show();
  long ticks = 0;
  QObject::connect(form.Timer1, &toolkit::PollTimer::tick, [&] { ++ticks; });
  form.SpeedButton1->click();
  if (!boxes.boxes.empty() || !form.Comm1->IsOpen()) {
    std::fprintf(stderr, "the station did not start polling\n");
    return 1;
  }

  runFor(minutes * 60);
  std::vector<soak::ReceivedBlock> received;
  for (const auto& m : sub.messages()) {
    const auto slash = m.topic.rfind('/');
    received.push_back({m.ns, std::atoi(m.topic.c_str() + slash + 1), m.payload.size()});
  }
  const long publishTicks = ticks;
  measuring = false;
  const soak::Pairing published = soak::pair(handled, received);
  const long rssAfterRun = soak::residentKb();

  if (outageMinutes > 0) {
    const auto before = publisher->link().counters();
    const long ticksBefore = ticks;
    const std::size_t receivedBefore = sub.messages().size();
    broker.stop();
    QElapsedTimer clock;
    clock.start();
    std::printf("outage: broker stopped for %.1f min\n  s      RSS kB  buffered  dropped\n", outageMinutes);
    std::fflush(stdout);
    long rssFirstFull = 0, rssMax = 0;
    while (clock.elapsed() < static_cast<qint64>(outageMinutes * 60000)) {
      runFor(15);
      const auto c = publisher->link().counters();
      const long rss = soak::residentKb();
      if (c.buffered >= static_cast<std::uint64_t>(buffer) && !rssFirstFull) rssFirstFull = rss;
      rssMax = std::max(rssMax, rss);
      std::printf("  %-6lld %-7ld %-9llu %llu\n", clock.elapsed() / 1000, rss, static_cast<unsigned long long>(c.buffered),
                  static_cast<unsigned long long>(c.dropped - before.dropped));
      std::fflush(stdout);
    }
    const long outageTicks = ticks - ticksBefore;
    broker.start();
    QElapsedTimer drain;
    drain.start();
    while (drain.elapsed() < 60000) {
      runFor(0.1);
      const auto c = publisher->link().counters();
      if (c.state == publish::BrokerLink::State::Connected && c.buffered == 0 && c.inFlight == 0) break;
    }
    runFor(3);  // the subscriber's own reconnect
    const auto after = publisher->link().counters();
    std::printf("ticks during the outage %ld (%.2f per s)\n", outageTicks,
                static_cast<double>(outageTicks) * 1000 / static_cast<double>(clock.elapsed()));
    std::printf("after the broker came back: drained in %.1f s; accepted %llu, delivered %llu, dropped %llu; subscriber got %zu more\n",
                static_cast<double>(drain.elapsed()) / 1000,
                static_cast<unsigned long long>(after.accepted - before.accepted),
                static_cast<unsigned long long>(after.delivered - before.delivered),
                static_cast<unsigned long long>(after.dropped - before.dropped), sub.messages().size() - receivedBefore);
    std::printf("RSS when the buffer was first full %ld kB, highest after %ld kB\n", rssFirstFull, rssMax);
  }
  form.SpeedButton1->click();
  publisher.reset();
  form.close();
  sim.terminate();
  sim.waitForFinished(10000);

  // The simulator's log is complete only once it has exited.
  const soak::Pairing paired = soak::pair(soak::readReplyLog(replyLog.toStdString()), received);
  std::printf("publish soak: %d units x %d cells, interval 0.4 s, %.1f min, buffer %d messages\n", kUnits, kCells, minutes,
              buffer);
  std::printf("messages received      %zu (%ld ticks); payload %zu bytes\n", received.size(), publishTicks,
              received.empty() ? std::size_t{0} : received.back().bytes);
  std::printf("reply last byte -> subscriber: median %.2f ms, p99 %.2f ms, max %.2f ms (%zu paired, %zu unpaired)\n",
              soak::percentile(paired.delaysMs, 50), soak::percentile(paired.delaysMs, 99),
              soak::percentile(paired.delaysMs, 100), paired.delaysMs.size(), paired.unmatchedBlocks);
  std::printf("reply in the tables -> subscriber: median %.2f ms, p99 %.2f ms, max %.2f ms (%zu paired)\n",
              soak::percentile(published.delaysMs, 50), soak::percentile(published.delaysMs, 99),
              soak::percentile(published.delaysMs, 100), published.delaysMs.size());
  std::printf("publisher's slot on the main thread: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
              soak::percentile(publishCallMs, 50), soak::percentile(publishCallMs, 99), soak::percentile(publishCallMs, 100));
  std::printf("RSS after the publishing run %ld kB\n", rssAfterRun);
  return 0;
}
