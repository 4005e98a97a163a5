// The control-room servers fed by the real station: mbpoll reads, over Modbus TCP, the cells
// that the window's tables hold after the simulator's replies.
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

class ControlRoomOnChain : public ChainStation {};

TEST_F(ControlRoomOnChain, mbpollReadsTheCellsTheWindowHolds) {
  open(QStringLiteral("60"), 2, {QStringLiteral("--units"), QStringLiteral("2"), QStringLiteral("--cells"), QStringLiteral("24")});
  const int port = freePort();
  QFile ini(folder.file(QStringLiteral("controlroom.ini")));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write(QStringLiteral("[modbus]\nenabled = true\nport = %1\n").arg(port).toUtf8());
  ini.close();
  const auto health = attachHealth(*form);
  const auto feed = attachControlRoom(*form, health.get());
  ASSERT_TRUE(feed) << errors().join('\n').toStdString();
  form->SpeedButton1->click();
  for (int t = 1; t <= 2; ++t) ASSERT_TRUE(tickAndAwaitReply()) << "tick " << t;
  // The picture follows the reply once the event loop has turned.
  int passes = 0;
  ASSERT_TRUE(waitUntil([&passes] { return ++passes > 20; }));
  const Ran r = run(QStringLiteral("mbpoll"), {"-m", "tcp", "-p", QString::number(port), "-0", "-1", "-o", "2", "-a", "2",
                                               "-t", "4:hex", "-r", "0", "-c", "26", "127.0.0.1"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::map<int, int> regs;
  const std::regex line(R"(\[(\d+)\]:\s+0x([0-9A-Fa-f]{4}))");
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), line); it != std::sregex_iterator(); ++it)
    regs[std::stoi((*it)[1])] = std::stoi((*it)[2], nullptr, 16);
  const acquisition::MeasurementTables& tables = form->polling->tables;
  ASSERT_EQ(regs[0], tables.CellCount[2]) << r.out;
  for (int k = 1; k <= 24; ++k) EXPECT_EQ(regs[k], std::lround(tables.CellVoltage[2][k] * 1000)) << "cell " << k;
  EXPECT_EQ(regs[25], 0xFFFF) << "a cell the unit does not report";
}

}  // namespace
