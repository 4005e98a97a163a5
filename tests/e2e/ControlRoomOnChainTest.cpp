// The control-room servers fed by the real station: mbpoll and curl read, over Modbus TCP and
// HTTP, what the window holds, wired in the order the station program uses.
#include <QFile>
#include <cmath>
#include <map>
#include <regex>

#include "app/ControlRoomWiring.h"
#include "app/HealthWiring.h"
#include "controlroom/Loopback.h"
#include "e2e/ChainStation.h"
#include "health/HealthMonitor.h"

namespace {

class ControlRoomOnChain : public ChainStation {
 protected:
  /// The station folder with `units` units stored, cellsim on COM1, both servers switched on,
  /// and the window shown after the servers are attached, as the station program does.
  void openWithServers(int units, const QStringList& simulator) {
    folder.makeDatabase(QStringLiteral("60"), units);
    sim = std::make_unique<Cellsim>(folder.file(QStringLiteral("COM1")), simulator);
    modbusPort = freePort();
    metricsPort = freePort();
    QFile ini(folder.file(QStringLiteral("controlroom.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[modbus]\nenabled = true\nport = %1\n[metrics]\nenabled = true\nport = %2\n")
                  .arg(modbusPort)
                  .arg(metricsPort)
                  .toUtf8());
    ini.close();
    form = std::make_unique<TForm1>(boxes);
    health = attachHealth(*form);
    feed = attachControlRoom(*form, health.get());
    ASSERT_TRUE(feed);
    form->show();
    ASSERT_TRUE(boxes.boxes.empty()) << errors().join('\n').toStdString();
    settle();
  }

  void TearDown() override {
    feed.reset();
    health.reset();
    ChainStation::TearDown();
  }

  /// The picture follows the window once the event loop has turned.
  void settle() {
    int passes = 0;
    ASSERT_TRUE(waitUntil([&passes] { return ++passes > 20; }));
  }

  /// Registers read with function 4, by address.
  std::map<int, int> read(int unit, int address, int count, std::string* out = nullptr) {
    const Ran r = run(QStringLiteral("mbpoll"), {"-m", "tcp", "-p", QString::number(modbusPort), "-0", "-1", "-o", "2", "-a",
                                                 QString::number(unit), "-t", "4:hex", "-r", QString::number(address), "-c",
                                                 QString::number(count), "127.0.0.1"});
    if (out) *out = r.out;
    std::map<int, int> regs;
    const std::regex line(R"(\[(\d+)\]:\s+0x([0-9A-Fa-f]{4}))");
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), line); it != std::sregex_iterator(); ++it)
      regs[std::stoi((*it)[1])] = std::stoi((*it)[2], nullptr, 16);
    return regs;
  }

  std::string scrape() {
    const Ran r = run(QStringLiteral("curl"),
                      {"-sS", "--fail", "--max-time", "10", QStringLiteral("http://127.0.0.1:%1/metrics").arg(metricsPort)});
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out;
  }

  int modbusPort = 0;
  int metricsPort = 0;
  std::unique_ptr<health::HealthMonitor> health;
  std::unique_ptr<ControlRoomFeed> feed;
};

TEST_F(ControlRoomOnChain, mbpollReadsTheCellsTheWindowHolds) {
  openWithServers(2, {QStringLiteral("--units"), QStringLiteral("2"), QStringLiteral("--cells"), QStringLiteral("24")});
  form->SpeedButton1->click();
  for (int t = 1; t <= 2; ++t) ASSERT_TRUE(tickAndAwaitReply()) << "tick " << t;
  settle();
  std::string out;
  auto regs = read(2, 0, 26, &out);
  const acquisition::MeasurementTables& tables = form->polling->tables;
  ASSERT_EQ(regs[0], tables.CellCount[2]) << out;
  for (int k = 1; k <= 24; ++k) EXPECT_EQ(regs[k], std::lround(tables.CellVoltage[2][k] * 1000)) << "cell " << k;
  EXPECT_EQ(regs[25], 0xFFFF) << "a cell the unit does not report";
}

TEST_F(ControlRoomOnChain, beforeTheFirstStartTheStoredUnitCountIsServed) {
  openWithServers(2, {QStringLiteral("--units"), QStringLiteral("2")});
  std::string out;
  EXPECT_EQ(read(255, 2, 1, &out)[2], 2) << "unit_count\n" << out;
  read(3, 0, 1, &out);
  EXPECT_NE(out.find("Target device failed to respond"), std::string::npos) << out;
  const std::string metrics = scrape();
  EXPECT_NE(metrics.find("\ncellstation_units_polled 2\n"), std::string::npos) << metrics.substr(0, 2000);
  EXPECT_NE(metrics.find("cellstation_unit_online{unit=\"2\"} 0\n"), std::string::npos);
  EXPECT_EQ(metrics.find("unit=\"3\""), std::string::npos);
}

TEST_F(ControlRoomOnChain, aUnitThatNeverAnsweredIsAbsentAndVoltagesReadAsTheWindowShowsThem) {
  openWithServers(2, {QStringLiteral("--units"), QStringLiteral("2"), QStringLiteral("--cells"), QStringLiteral("24"),
                      QStringLiteral("--silent"), QStringLiteral("2")});
  form->SpeedButton1->click();
  ASSERT_TRUE(tickAndAwaitReply());
  tick();  // unit 2 is asked and says nothing
  settle();
  std::string out;
  EXPECT_EQ(read(2, 109, 3, &out), (std::map<int, int>{{109, 0xFFFF}, {110, 0}, {111, 0xFFFF}})) << out;
  EXPECT_EQ(read(1, 109, 1, &out)[109], std::lround(form->polling->tables.TotalVoltage[1] * 100)) << out;

  const std::string metrics = scrape();
  EXPECT_EQ(metrics.find("cellstation_total_voltage_volts{unit=\"2\"}"), std::string::npos);
  EXPECT_EQ(metrics.find("cellstation_unit_cells{unit=\"2\"}"), std::string::npos);
  EXPECT_NE(metrics.find("cellstation_unit_online{unit=\"2\"} 0\n"), std::string::npos);
  // Unit 1 is on show: each cell's sample reads as its table entry, in any locale.
  ASSERT_EQ(form->SpinEdit2->value(), 1);
  const auto shown = [this](QString text) { return text.replace(QLatin1Char(form->decimalSeparator()), QLatin1Char('.')).toStdString(); };
  for (int k = 1; k <= 24; ++k) {
    const int t = (k - 1) % 6 + 1, row = (k - 1) / 6 + 1;
    ASSERT_EQ(acquisition::cellAt(t, row), k);
    const std::string sample = "\ncellstation_cell_voltage_volts{unit=\"1\",cell=\"" + std::to_string(k) + "\"} " +
                               shown(form->cellTable(t)->valueAt(row)) + "\n";
    EXPECT_NE(metrics.find(sample), std::string::npos) << sample;
  }
}

}  // namespace
