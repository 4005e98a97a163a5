// The control-room servers with real clients on loopback: mbpoll reads the Modbus map, curl and
// promtool the metrics, and a Prometheus server scrapes them; plus clients that misbehave.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cmath>
#include <latch>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "controlroom/ControlRoom.h"
#include "controlroom/Loopback.h"
#include "support/LogCapture.h"

namespace {

using acquisition::StationSnapshot;
using controlroom::ControlRoom;

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

StationSnapshot station() {
  StationSnapshot s;
  s.polling = true;
  s.lineUp = true;
  s.unitCount = 3;
  s.lastSamplingMs = nowMs() - 60'000;
  for (int u = 1; u <= 3; ++u) {
    auto& unit = s.unit(u);
    unit.online = u != 3;
    unit.cellCount = 24;
    for (int k = 1; k <= 24; ++k) unit.cellVolts[static_cast<std::size_t>(k - 1)] = 2.2 + 0.001 * (u * 100 + k);
    unit.totalVolts = 54.3 + u;
    unit.lastGoodMs = nowMs() - 2'000;
    unit.requests = 1000u + static_cast<unsigned>(u);
    unit.replies = 990;
    unit.badChecksum = 3;
  }
  s.unit(2).cellVolts[6] = 1.801;  // cell 7 of unit 2 is low
  s.unit(2).alarm[0] = true;
  s.unit(2).cellsInAlarm = 1;
  return s;
}

struct Room {
  explicit Room(int idleSeconds = 60, int maxClients = 32) {
    controlroom::ControlSettings settings;
    settings.modbus = {true, "127.0.0.1", freePort(), maxClients, idleSeconds};
    settings.metrics = {true, "127.0.0.1", freePort(), maxClients, idleSeconds};
    auto start = ControlRoom::start(settings, "0.1");
    if (!start.room) throw std::runtime_error(start.problem.toStdString());
    room = std::move(start.room);
    room->publish(snapshot);
    room->observeSamplingRun(0.042);
  }
  QString modbusPort() const { return QString::number(room->modbus()->port()); }
  QString metricsUrl() const { return QStringLiteral("http://127.0.0.1:%1/metrics").arg(room->metrics()->port()); }

  StationSnapshot snapshot = station();
  std::unique_ptr<ControlRoom> room;
};

/// mbpoll's registers printed as "[address]: 0xXXXX", by address.
std::map<int, int> registers(const std::string& out) {
  std::map<int, int> r;
  const std::regex line(R"(\[(\d+)\]:\s+0x([0-9A-Fa-f]{4}))");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it)
    r[std::stoi((*it)[1])] = std::stoi((*it)[2], nullptr, 16);
  return r;
}

Ran mbpoll(const Room& room, QStringList args) {
  args = QStringList{"-m", "tcp", "-p", room.modbusPort(), "-0", "-1", "-o", "2"} + args + QStringList{"127.0.0.1"};
  return run(QStringLiteral("mbpoll"), args);
}

TEST(ControlRoomServers, MbpollReadsAUnitsWholeMapAndTheStationBlock) {
  Room room;
  const auto& unit = room.snapshot.unit(2);
  for (const char* type : {"4:hex", "3:hex"}) {
    const Ran r = mbpoll(room, {"-a", "2", "-t", type, "-r", "0", "-c", "124"});
    ASSERT_EQ(r.status, 0) << r.out;
    auto regs = registers(r.out);
    ASSERT_EQ(regs.size(), 124u) << r.out;
    EXPECT_EQ(regs[0], 24);
    for (int k = 1; k <= 24; ++k)
      EXPECT_EQ(regs[k], std::lround(unit.cellVolts[static_cast<std::size_t>(k - 1)] * 1000)) << "cell " << k;
    EXPECT_EQ(regs[7], 1801);
    for (int k = 25; k <= 108; ++k) EXPECT_EQ(regs[k], 0xFFFF) << "cell " << k;
    EXPECT_EQ(regs[109], 5630);
    EXPECT_EQ(regs[110], 1);
    EXPECT_GE(regs[111], 2);
    EXPECT_LE(regs[111], 30);
    EXPECT_EQ(regs[112], 2);
    EXPECT_EQ(regs[113] + regs[114] + regs[115] + regs[116], 0);
    EXPECT_EQ(regs[117], 1);
    EXPECT_EQ((std::vector<int>{regs[118], regs[119], regs[120], regs[121], regs[122], regs[123]}),
              (std::vector<int>{0, 1002, 0, 990, 0, 3}));
  }
  const Ran r = mbpoll(room, {"-a", "255", "-t", "4:hex", "-r", "0", "-c", "8"});
  auto regs = registers(r.out);
  const auto sampled = static_cast<std::uint32_t>(*room.snapshot.lastSamplingMs / 1000);
  EXPECT_EQ((std::vector<int>{regs[0], regs[1], regs[2], regs[3], regs[4], regs[5], regs[6], regs[7]}),
            (std::vector<int>{2, 1, 3, 1, static_cast<int>(sampled >> 16), static_cast<int>(sampled & 0xFFFF), 2, 1}))
      << r.out;

  // A newer snapshot is what the next read sees.
  room.snapshot.unit(2).cellVolts[0] = 2.5;
  room.room->publish(room.snapshot);
  EXPECT_EQ(registers(mbpoll(room, {"-a", "2", "-t", "4:hex", "-r", "1", "-c", "1"}).out)[1], 2500);
}

TEST(ControlRoomServers, MbpollGetsExceptionsForUnknownUnitUnmappedAddressAndWrite) {
  Room room;
  struct Case {
    QStringList args;
    const char* message;
  };
  for (const Case& c : std::vector<Case>{
           {{"-a", "4", "-r", "0", "-c", "1"}, "Target device failed to respond"},
           {{"-a", "100", "-r", "0", "-c", "1"}, "Target device failed to respond"},
           {{"-a", "1", "-r", "120", "-c", "5"}, "Illegal data address"},
           {{"-a", "255", "-r", "8", "-c", "1"}, "Illegal data address"},
           {{"-a", "1", "-r", "1", "--", "5"}, "Illegal function"},
       }) {
    QStringList args = QStringList{"-m", "tcp", "-p", room.modbusPort(), "-0", "-1", "-o", "2"} + c.args;
    // Values to write come after the host.
    const qsizetype dashes = args.indexOf("--");
    if (dashes >= 0) args.insert(dashes, "127.0.0.1");
    else args << "127.0.0.1";
    const Ran r = run(QStringLiteral("mbpoll"), args);
    EXPECT_NE(r.out.find(c.message), std::string::npos) << args.join(' ').toStdString() << "\n" << r.out;
  }
}

TEST(ControlRoomServers, AFaultyServerSectionOrAPortInUseStopsOnlyThatServer) {
  QTemporaryDir dir;
  const QString ini = dir.filePath("controlroom.ini");
  EXPECT_FALSE(ControlRoom::start(ini, "0.1").room);  // no file: nothing, and no problem
  EXPECT_TRUE(ControlRoom::start(ini, "0.1").problem.isEmpty());

  // An unknown key in [metrics]: mbpoll still reads the Modbus server.
  LogCapture metricsLog("cellstation.metrics");
  const int modbusPort = freePort();
  QFile f(ini);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QStringLiteral("[modbus]\nenabled = true\nport = %1\n[metrics]\nenabled = true\nprot = 9108\n").arg(modbusPort).toUtf8());
  f.close();
  auto start = ControlRoom::start(ini, "0.1");
  EXPECT_EQ(start.problem, "Prometheus metrics: controlroom.ini line 6: unknown key \"prot\" in [metrics] "
                           "(known: enabled, listen, port, max_clients, idle_timeout)");
  EXPECT_EQ(metricsLog.countWarnings(QStringLiteral("line 6: unknown key")), 1) << metricsLog.all().join('\n').toStdString();
  ASSERT_TRUE(start.room);
  EXPECT_FALSE(start.room->metrics());
  const Ran r = run(QStringLiteral("mbpoll"), {"-m", "tcp", "-p", QString::number(modbusPort), "-0", "-1", "-o", "2", "-a", "255",
                                               "-r", "2", "-c", "1", "127.0.0.1"});
  EXPECT_EQ(r.status, 0) << r.out;
  start.room.reset();

  Room taken;
  const int busy = taken.room->modbus()->port();
  const int free = freePort();
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(QStringLiteral("[modbus]\nenabled = true\nport = %1\n[metrics]\nenabled = true\nport = %2\n").arg(busy).arg(free).toUtf8());
  f.close();
  start = ControlRoom::start(ini, "0.1");
  EXPECT_TRUE(start.problem.startsWith(QStringLiteral("Modbus TCP: cannot listen on 127.0.0.1:%1: ").arg(busy))) << start.problem.toStdString();
  ASSERT_TRUE(start.room);  // the metrics endpoint runs all the same
  EXPECT_FALSE(start.room->modbus());
  EXPECT_EQ(start.room->metrics()->port(), free);
}

TEST(ControlRoomServers, ListeningBeyondLoopbackIsAWarning) {
  LogCapture log("cellstation.modbus");
  controlroom::ControlSettings settings;
  settings.modbus = {true, "127.0.0.1", freePort(), 4, 60};
  auto start = ControlRoom::start(settings, "0.1");
  ASSERT_TRUE(start.room) << start.problem.toStdString();
  EXPECT_TRUE(log.warnings().isEmpty()) << log.all().join('\n').toStdString();
  start.room.reset();
  settings.modbus.listen = "0.0.0.0";
  start = ControlRoom::start(settings, "0.1");
  ASSERT_TRUE(start.room) << start.problem.toStdString();
  EXPECT_EQ(log.countWarnings(QStringLiteral("without authentication: every host")), 1) << log.all().join('\n').toStdString();
}

TEST(ControlRoomServers, TricklingClientsAreClosedAtTheDeadlineAndAScrapeGetsThrough) {
  Room room(/*idleSeconds=*/60, /*maxClients=*/2);
  const int port = room.room->metrics()->port();
  // Two clients take every place and send a byte of a head that never ends every 200 ms,
  // far within idle_timeout.
  Client a(port), b(port);
  a.send("GET /metrics HTTP/1.1\r\nX-Slow: ");
  b.send("GET /metrics HTTP/1.1\r\nX-Slow: ");
  bool aClosed = false, bClosed = false;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!(aClosed && bClosed) && std::chrono::steady_clock::now() < until) {
    if (!aClosed) a.sendSome("a");
    if (!bClosed) b.sendSome("b");
    aClosed = aClosed || a.closedWithin(100);
    bClosed = bClosed || b.closedWithin(100);
  }
  EXPECT_TRUE(aClosed && bClosed);
  EXPECT_EQ(room.room->metrics()->counts().slowClosed, 2u);
  const Ran scrape = run(QStringLiteral("curl"), {"-sS", "--fail", "--max-time", "10", room.metricsUrl()});
  EXPECT_EQ(scrape.status, 0) << scrape.out;

  // What no HTTP client sends (a TLS ClientHello, NUL bytes) is answered 400 at once, long
  // before the deadline.
  for (const std::string& bytes : {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), std::string(4, '\0')}) {
    Client c(port);
    c.send(bytes);
    EXPECT_TRUE(c.receive(12, 2000).starts_with("HTTP/1.1 400")) << "bytes " << static_cast<int>(bytes[0]);
  }
}

TEST(ControlRoomServers, CurlScrapeIsCleanForPromtool) {
  Room room;
  const Ran scrape = run(QStringLiteral("curl"), {"-sS", "--fail", "--max-time", "10", room.metricsUrl()});
  ASSERT_EQ(scrape.status, 0) << scrape.out;
  EXPECT_NE(scrape.out.find("\ncellstation_cell_voltage_volts{unit=\"2\",cell=\"7\"} 1.801\n"), std::string::npos);
  EXPECT_NE(scrape.out.find("\ncellstation_sampling_run_duration_seconds_bucket{le=\"0.05\"} 1\n"), std::string::npos);
  const Ran lint = run(QStringLiteral("promtool"), {"check", "metrics"}, QByteArray::fromStdString(scrape.out));
  EXPECT_EQ(lint.status, 0) << lint.out;
  EXPECT_EQ(lint.out, "") << lint.out;
  // Only /metrics is served.
  EXPECT_EQ(run(QStringLiteral("curl"), {"-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "10",
                                          QStringLiteral("http://127.0.0.1:%1/").arg(room.room->metrics()->port())}).out,
            "404");
}

TEST(ControlRoomServers, PrometheusServerScrapesACellVoltage) {
  Room room;
  QTemporaryDir dir;
  const int webPort = freePort();
  QFile config(dir.filePath("prometheus.yml"));
  ASSERT_TRUE(config.open(QIODevice::WriteOnly));
  config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n"
                              "  - job_name: cellstation\n    static_configs:\n      - targets: ['127.0.0.1:%1']\n")
                   .arg(room.room->metrics()->port()).toUtf8());
  config.close();
  QProcess prometheus;
  prometheus.setProcessChannelMode(QProcess::MergedChannels);
  prometheus.setStandardOutputFile(dir.filePath("prometheus.log"));
  prometheus.start(QStringLiteral("prometheus"),
                   {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                    QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(webPort)});
  ASSERT_TRUE(prometheus.waitForStarted(10000));
  const QString query = QStringLiteral("http://127.0.0.1:%1/api/v1/query?query=cellstation_cell_voltage_volts%7Bunit%3D%222%22,cell%3D%227%22%7D").arg(webPort);
  std::string answer;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline && prometheus.state() == QProcess::Running) {
    answer = run(QStringLiteral("curl"), {"-s", "--max-time", "5", query}).out;
    if (answer.find("\"1.801\"") != std::string::npos) break;
    QThread::msleep(250);
  }
  prometheus.terminate();
  if (!prometheus.waitForFinished(15000)) {
    prometheus.kill();
    prometheus.waitForFinished(5000);
  }
  QFile log(dir.filePath("prometheus.log"));
  log.open(QIODevice::ReadOnly);
  EXPECT_NE(answer.find("\"value\":["), std::string::npos) << answer << "\n" << log.readAll().toStdString();
  EXPECT_NE(answer.find(",\"1.801\"]"), std::string::npos) << answer;
}

}  // namespace
