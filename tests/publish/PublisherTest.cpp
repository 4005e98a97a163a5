// The publisher on a real broker: Home Assistant discovery following the unit count and Home
// Assistant's restarts, and an orderly stop that delivers what waits before "offline".
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <map>
#include <set>

#include "Broker.h"
#include "Templates.h"
#include "publish/Publisher.h"

namespace {

publish::PublishSettings settingsFor(int port) {
  publish::PublishSettings s;
  s.host = "127.0.0.1";
  s.port = port;
  s.station = "room-a";
  s.clientId = "publisher-under-test";
  s.keepAliveSeconds = 5;
  return s;
}

QJsonObject json(const std::string& payload) { return QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object(); }

// The retained configs a subscriber holds now: topic -> payload, removed ones left out.
std::map<std::string, std::string> standing(const Subscriber& sub) {
  std::map<std::string, std::string> out;
  for (const auto& m : sub.messages()) {
    if (!m.topic.ends_with("/config")) continue;
    if (m.payload.empty()) out.erase(m.topic);
    else out[m.topic] = m.payload;
  }
  return out;
}

void storeReading(acquisition::MeasurementTables& t, int unit, std::initializer_list<double> cells, double total) {
  t.CellCount[unit] = static_cast<int>(cells.size());
  int k = 1;
  for (const double v : cells) t.CellVoltage[unit][k++] = v;
  t.TotalVoltage[unit] = total;
}

acquisition::ReplyOutcome stored(int unit) {
  acquisition::ReplyOutcome o;
  o.kind = acquisition::ReplyOutcome::Kind::Stored;
  o.unit = unit;
  return o;
}

TEST(Publisher, homeAssistantSeesOneDevicePerUnitOfTheCount) {
  Broker broker;
  Subscriber ha(broker.port(), "homeassistant/#");
  Subscriber data(broker.port(), "cellstation/room-a/unit/+");
  auto settings = settingsFor(broker.port());
  settings.discovery = true;
  settings.discoveryCells = true;
  publish::Publisher p(settings);
  p.setUnitCount(3);
  acquisition::MeasurementTables tables;
  storeReading(tables, 2, {2.254, 2.31, 2.24}, 6.804);
  p.publishReply(stored(2), tables);
  p.setUnitStateSource([](int u) { return publish::Publisher::UnitState{u == 2, false}; });

  // The station, 3 units of 6 entities, unit 2's 3 cells.
  ASSERT_TRUE(eventually([&] { return standing(ha).size() == 1 + 3 * 6 + 3; })) << standing(ha).size();
  ASSERT_TRUE(eventually([&] { return data.on("cellstation/room-a/unit/2").size() == 1; }));
  const std::string body = data.on("cellstation/room-a/unit/2")[0].payload;
  std::set<QString> devices;
  std::map<QString, double> unit2;
  for (const auto& [topic, payload] : standing(ha)) {
    const QJsonObject o = json(payload);
    const QString device = o.value(QStringLiteral("device")).toObject().value(QStringLiteral("name")).toString();
    devices.insert(device);
    if (device != QStringLiteral("room-a 第2台") || topic.find("/sensor/") == std::string::npos) continue;
    ASSERT_EQ(o.value(QStringLiteral("state_topic")).toString(), QStringLiteral("cellstation/room-a/unit/2"));
    const auto v = evaluateTemplate(o.value(QStringLiteral("value_template")).toString().toStdString(), body);
    ASSERT_TRUE(v && v->isDouble()) << payload << "\n" << body;
    unit2[o.value(QStringLiteral("name")).toString()] = v->toDouble();
  }
  EXPECT_EQ(devices, (std::set<QString>{QStringLiteral("room-a"), QStringLiteral("room-a 第1台"),
                                        QStringLiteral("room-a 第2台"), QStringLiteral("room-a 第3台")}));
  EXPECT_EQ(unit2.size(), 4u + 3u);
  EXPECT_DOUBLE_EQ(unit2[QStringLiteral("单体压差")], 0.07);
  EXPECT_DOUBLE_EQ(unit2[QStringLiteral("第3节")], 2.24);

  // Fewer units: the others' entities go, and a Home Assistant started later never sees them.
  p.setUnitCount(1);
  ASSERT_TRUE(eventually([&] { return standing(ha).size() == 1 + 6; })) << standing(ha).size();
  Subscriber later(broker.port(), "homeassistant/#");
  ASSERT_TRUE(eventually([&] { return later.messages().size() == 7; })) << later.messages().size();
  Subscriber state(broker.port(), "cellstation/room-a/unit/2/state");
  QThread::msleep(200);
  EXPECT_TRUE(state.messages().empty()) << "unit 2's retained state was cleared";

  // Home Assistant's birth message brings the configs again.
  const auto before = ha.messages().size();
  ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_pub"),
                              {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                               QString::number(broker.port()), QStringLiteral("-t"), QStringLiteral("homeassistant/status"),
                               QStringLiteral("-m"), QStringLiteral("online")}),
            0);
  ASSERT_TRUE(eventually([&] { return ha.messages().size() >= before + 7; })) << ha.messages().size() - before;
  EXPECT_EQ(standing(ha).size(), 7u);
}

TEST(Publisher, aRunWithFewerUnitsRemovesTheDevicesAFormerRunLeft) {
  Broker broker;
  auto settings = settingsFor(broker.port());
  settings.discovery = true;
  {
    // The former run: 3 units, unit 3 with sensors for its 3 cells.
    settings.discoveryCells = true;
    publish::Publisher former(settings);
    former.setUnitCount(3);
    acquisition::MeasurementTables tables;
    storeReading(tables, 3, {2.254, 2.31, 2.24}, 6.804);
    former.publishReply(stored(3), tables);
    former.setUnitStateSource([](int) { return publish::Publisher::UnitState{true, false}; });
    Subscriber ha(broker.port(), "homeassistant/#");
    ASSERT_TRUE(eventually([&] { return standing(ha).size() == 1 + 3 * 6 + 3; })) << standing(ha).size();
    Subscriber states(broker.port(), "cellstation/room-a/unit/+/state");
    ASSERT_TRUE(eventually([&] { return states.messages().size() == 3; })) << states.messages().size();
  }
  // This run: 2 units, cells off. The broker still holds unit 3's device and state.
  settings.discoveryCells = false;
  publish::Publisher p(settings);
  p.setUnitCount(2);
  p.setUnitStateSource([](int) { return publish::Publisher::UnitState{true, false}; });
  Subscriber ha(broker.port(), "homeassistant/#");
  ASSERT_TRUE(eventually([&] { return standing(ha).size() == 1 + 2 * 6; })) << standing(ha).size();
  // A Home Assistant started now finds the station and two units, and no state of unit 3.
  Subscriber later(broker.port(), "homeassistant/#");
  Subscriber states(broker.port(), "cellstation/room-a/unit/+/state");
  const auto held = [&states] {
    std::set<std::string> topics;
    for (const auto& m : states.messages())
      if (!m.payload.empty()) topics.insert(m.topic);
    return topics;
  };
  ASSERT_TRUE(eventually([&] { return standing(later).size() == 13 && held().size() == 2; }))
      << standing(later).size() << " configs, " << held().size() << " states";
  QThread::msleep(200);
  EXPECT_EQ(standing(later).size(), 13u);
  for (const auto& [topic, payload] : standing(later)) EXPECT_EQ(topic.find("/u3_"), std::string::npos) << topic;
  EXPECT_EQ(held(), (std::set<std::string>{"cellstation/room-a/unit/1/state", "cellstation/room-a/unit/2/state"}));
}

TEST(Publisher, aStopDeliversWhatWaitsBeforeSayingOffline) {
  Broker broker;
  Subscriber sub(broker.port(), "cellstation/room-a/#");
  publish::Publisher p(settingsFor(broker.port()));
  ASSERT_TRUE(sub.awaits("cellstation/room-a/status", "online"));
  // As the window closing while polling: "stopped" is the last thing handed over.
  p.publishPolling(false);
  p.stop();
  ASSERT_TRUE(sub.awaits("cellstation/room-a/status", "offline"));
  const auto all = sub.messages();
  std::vector<std::string> order;
  for (const auto& m : all)
    if (!(m.topic.ends_with("/status") && m.payload == "online")) order.push_back(m.topic);
  EXPECT_EQ(order, (std::vector<std::string>{"cellstation/room-a/polling", "cellstation/room-a/status"}));
  EXPECT_EQ(p.status().phase, publish::LinkStatus::Phase::Stopped);
  EXPECT_EQ(p.statusLines().front(), QStringLiteral("MQTT 服务器 127.0.0.1:%1：已停止").arg(broker.port()));
}

}  // namespace
