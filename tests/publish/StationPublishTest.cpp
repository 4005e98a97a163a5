// The whole station publishing: the real window offscreen on cellsim, wired by publish.ini in
// its station folder, and the station program itself killed under a subscriber's eyes.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <memory>
#include <set>

#include "Broker.h"
#include "support/LogCapture.h"
#include "app/HealthWiring.h"
#include "app/Publishing.h"
#include "app/Unit1.h"
#include "e2e/Cellsim.h"
#include "support/StationFolder.h"
#include "toolkit/MessageBoxes.h"

#ifndef CELLSTATION_PATH
#error "the station tests need CELLSTATION_PATH"
#endif

namespace {

using Kind = toolkit::MessageBoxes::Kind;
using publish::BrokerLink;

void writeFile(const QString& path, const QString& text) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0) throw std::runtime_error("cannot write " + path.toStdString());
}

QString settingsText(int port, int buffer = 100) {
  return QStringLiteral("[broker]\nhost = 127.0.0.1\nport = %1\nkeep_alive = 5\nreconnect_min = 1\nreconnect_max = 1\n"
                        "[topics]\nstation = room-a\n[buffer]\nmessages = %2\n")
      .arg(port)
      .arg(buffer);
}

QJsonObject json(const std::string& payload) { return QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object(); }

class PublishingStation : public ::testing::Test {
 protected:
  void open(const QString& interval, int units, int cells, int buffer = 100, const QStringList& simFaults = {}) {
    folder.makeDatabase(interval, units);
    writeFile(folder.file(QStringLiteral("publish.ini")), settingsText(broker.port(), buffer) + extraSettings);
    sim = std::make_unique<Cellsim>(folder.file(QStringLiteral("COM1")),
                                    QStringList{QStringLiteral("--units"), QString::number(units), QStringLiteral("--cells"),
                                                QString::number(cells), QStringLiteral("--seed"), QStringLiteral("5")} +
                                        simFaults);
    form = std::make_unique<TForm1>(boxes);
    publisher = attachPublishing(*form);
    ASSERT_TRUE(publisher);
    form->show();
    ASSERT_TRUE(boxes.boxes.empty());
  }

  void TearDown() override {
    publisher.reset();
    if (form) form->close();
    form.reset();
    if (sim) {
      EXPECT_EQ(sim->stop(), 0);
    }
  }

  bool tickAndAwaitReply() {
    form->guard().run([this] { form->Timer1Timer(); });
    return eventually([this] { return form->polling->ReplyReceived; });
  }

  bool settled() const {
    const auto c = publisher->link().counters();
    return c.state == BrokerLink::State::Connected && c.buffered == 0 && c.inFlight == 0;
  }

  Broker broker;
  StationFolder folder;
  /// Further sections of publish.ini.
  QString extraSettings;
  toolkit::RecordingMessageBoxes boxes;
  std::unique_ptr<Cellsim> sim;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<publish::Publisher> publisher;
};

TEST_F(PublishingStation, everyReplyArrivesWithTheUnitsValues) {
  Subscriber sub(broker.port(), "cellstation/room-a/#");
  const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
  open(QStringLiteral("60"), 3, 24);
  ASSERT_TRUE(sub.awaits("cellstation/room-a/status", "online"));
  form->SpeedButton1->click();
  ASSERT_TRUE(boxes.boxes.empty());
  for (int t = 1; t <= 3; ++t) ASSERT_TRUE(tickAndAwaitReply()) << "tick " << t;
  ASSERT_TRUE(eventually([&] { return sub.on("cellstation/room-a/unit/3").size() == 1; }));
  const QDateTime after = QDateTime::currentDateTimeUtc().addMSecs(1);

  for (int u = 1; u <= 3; ++u) {
    const auto got = sub.on("cellstation/room-a/unit/" + std::to_string(u));
    ASSERT_EQ(got.size(), 1u) << u;
    EXPECT_FALSE(got[0].retained);
    const QJsonObject o = json(got[0].payload);
    EXPECT_EQ(o.value(QStringLiteral("unit")).toInt(), u);
    EXPECT_EQ(o.value(QStringLiteral("cells")).toInt(), 24);
    const QJsonArray v = o.value(QStringLiteral("voltages")).toArray();
    ASSERT_EQ(v.size(), 24) << got[0].payload;
    for (int k = 1; k <= 24; ++k) EXPECT_DOUBLE_EQ(v.at(k - 1).toDouble(-1), form->polling->tables.CellVoltage[u][k]) << u << "/" << k;
    EXPECT_DOUBLE_EQ(o.value(QStringLiteral("total")).toDouble(-1), form->polling->tables.TotalVoltage[u]);
    const QString time = o.value(QStringLiteral("time")).toString();
    const QDateTime at = QDateTime::fromString(time, Qt::ISODateWithMs);
    ASSERT_TRUE(at.isValid()) << time.toStdString();
    EXPECT_TRUE(time.endsWith('Z')) << time.toStdString();
    EXPECT_GE(at, before) << time.toStdString();
    EXPECT_LE(at, after) << time.toStdString();
  }

  const auto polling = sub.on("cellstation/room-a/polling");
  ASSERT_EQ(polling.size(), 1u);
  EXPECT_EQ(json(polling[0].payload).value(QStringLiteral("state")).toString(), QStringLiteral("started"));
  form->SpeedButton1->click();
  ASSERT_TRUE(eventually([&] { return sub.on("cellstation/room-a/polling").size() == 2; }));
  EXPECT_EQ(json(sub.on("cellstation/room-a/polling")[1].payload).value(QStringLiteral("state")).toString(),
            QStringLiteral("stopped"));
  // Retained: a dashboard started now learns that polling is off.
  Subscriber late(broker.port(), "cellstation/room-a/polling");
  ASSERT_TRUE(eventually([&] { return !late.messages().empty(); }));
  EXPECT_TRUE(late.messages()[0].retained);
  EXPECT_EQ(json(late.messages()[0].payload).value(QStringLiteral("state")).toString(), QStringLiteral("stopped"));

  publisher.reset();
  EXPECT_TRUE(sub.awaits("cellstation/room-a/status", "offline"));
}

TEST_F(PublishingStation, aUnitGoingOfflineIsPublishedAsAnEvent) {
  Subscriber sub(broker.port(), "cellstation/room-a/event/#");
  open(QStringLiteral("60"), 2, 4, 100, {QStringLiteral("--silent"), QStringLiteral("2")});
  const auto health = attachHealth(*form);
  publishHealthEvents(*health, *publisher);
  form->SpeedButton1->click();
  // Unit 1 answers, unit 2 never does: its third unanswered poll is judged at the seventh tick.
  for (int cycle = 1; cycle <= 4; ++cycle) {
    ASSERT_TRUE(tickAndAwaitReply()) << "cycle " << cycle;
    form->guard().run([this] { form->Timer1Timer(); });
  }
  ASSERT_TRUE(eventually([&] { return !sub.on("cellstation/room-a/event/unit_offline").empty(); }));
  const auto got = sub.on("cellstation/room-a/event/unit_offline");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(got[0].retained);
  const QJsonObject o = json(got[0].payload);
  EXPECT_EQ(o.value(QStringLiteral("event")).toString(), QStringLiteral("unit_offline"));
  EXPECT_EQ(o.value(QStringLiteral("unit")).toInt(), 2);
  EXPECT_FALSE(o.contains(QStringLiteral("cell")));
  EXPECT_TRUE(QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).isValid());
  EXPECT_TRUE(sub.on("cellstation/room-a/event/unit_online").empty());
  publisher.reset();
}

TEST_F(PublishingStation, homeAssistantHasEveryUnitsStateAfterStartAndAfterTheBrokerLostIt) {
  extraSettings = QStringLiteral("[homeassistant]\ndiscovery = true\n");
  open(QStringLiteral("60"), 2, 4);
  const auto health = attachHealth(*form);
  publishHealthEvents(*health, *publisher);
  form->SpeedButton1->click();
  for (int t = 1; t <= 2; ++t) ASSERT_TRUE(tickAndAwaitReply()) << "tick " << t;
  // Both units answered and nothing changed since: a dashboard started now reads them online.
  // A subscriber that comes later is handed both states by the broker, retained.
  const auto bothOnline = [this] {
    return eventually([&] {
      Subscriber states(broker.port(), "cellstation/room-a/unit/+/state");
      return eventually([&] {
        for (int u = 1; u <= 2; ++u) {
          const auto got = states.on("cellstation/room-a/unit/" + std::to_string(u) + "/state");
          if (got.empty() || !got.back().retained || got.back().payload != "{\"online\":\"ON\",\"alarm\":\"OFF\"}") return false;
        }
        return true;
      }, 1000);
    }, 15000);
  };
  EXPECT_TRUE(bothOnline());

  // A broker restarted without its saved state has forgotten every retained message.
  broker.stop();
  ASSERT_TRUE(QFile::remove(broker.file(QStringLiteral("mosquitto.db"))));
  broker.start();
  ASSERT_TRUE(eventually([&] { return settled() && publisher->link().counters().connections == 2; }, 20000));
  EXPECT_TRUE(bothOnline());
  publisher.reset();
}

TEST_F(PublishingStation, aBrokerOutageNeverStallsPollingAndTheLatestReadingsArriveAfter) {
  LogCapture log("cellstation.publish");
  // A persistent session, so what the station delivers while this subscriber reconnects is
  // queued for it by the broker.
  Subscriber sub(broker.port(), "cellstation/room-a/unit/#", "outage-dashboard", false);
  open(QStringLiteral("0.2"), 3, 8, 5);
  int stored = 0;
  QObject::connect(form->polling, &acquisition::PollingController::replyHandled,
                   [&](const acquisition::ReplyOutcome& o, int) { stored += o.stored() ? 1 : 0; });
  form->SpeedButton1->click();
  ASSERT_TRUE(eventually([&] { return publisher->link().counters().delivered >= 3; }, 20000));

  broker.stop();
  const int atOutage = stored;
  // The timer keeps polling and replies keep being decoded while the broker is away.
  ASSERT_TRUE(eventually([&] { return stored >= atOutage + 15; }, 30000)) << stored - atOutage;
  EXPECT_GE(publisher->link().counters().dropped, 9u);
  EXPECT_LE(publisher->link().counters().buffered, 5u);

  broker.start();
  ASSERT_TRUE(eventually([&] { return settled() && publisher->link().counters().connections == 2; }, 20000));
  form->SpeedButton1->click();
  ASSERT_TRUE(eventually([&] { return settled(); }, 20000));

  const auto c = publisher->link().counters();
  // Every stored reply was delivered or counted as dropped, nothing else: the subscriber has
  // exactly the readings not dropped (a QoS 1 redelivery counted once).
  EXPECT_EQ(c.accepted, static_cast<std::uint64_t>(stored) + 2);  // + polling started, stopped
  ASSERT_TRUE(eventually([&] {
    std::set<std::string> distinct;
    for (auto& m : sub.messages()) distinct.insert(m.topic + m.payload);
    return distinct.size() == static_cast<std::size_t>(stored) - c.dropped;
  }, 20000)) << "received " << sub.messages().size() << ", stored " << stored << ", dropped " << c.dropped;
  EXPECT_EQ(log.countWarnings(QStringLiteral("lost the connection")), 1) << log.all().join('\n').toStdString();
}

TEST_F(PublishingStation, aFaultySettingsFileIsShownOnceAndNothingIsPublished) {
  LogCapture log("cellstation.publish");
  folder.makeDatabase(QStringLiteral("60"), 2);
  writeFile(folder.file(QStringLiteral("publish.ini")), QStringLiteral("[broker]\nhost = 127.0.0.1\nport = 99999\n"));
  form = std::make_unique<TForm1>(boxes);
  EXPECT_FALSE(attachPublishing(*form));
  form->show();
  ASSERT_TRUE(eventually([&] { return !boxes.boxes.empty(); }));
  const QStringList errors = boxes.texts(Kind::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("publish.ini line 3: port must be a whole number"))) << errors[0].toStdString();
  ASSERT_EQ(log.warnings().size(), 1);
  EXPECT_TRUE(log.warnings()[0].contains(QStringLiteral("publish.ini line 3"))) << log.warnings()[0].toStdString();
}

TEST_F(PublishingStation, aCaFileThatCannotBeReadIsShownAtStart) {
  LogCapture log("cellstation.publish");
  folder.makeDatabase(QStringLiteral("60"), 2);
  writeFile(folder.file(QStringLiteral("publish.ini")),
            QStringLiteral("[broker]\nhost = 127.0.0.1\ntls = true\nca_file = %1\n[topics]\nstation = s\n")
                .arg(folder.file(QStringLiteral("missing-ca.pem"))));
  form = std::make_unique<TForm1>(boxes);
  EXPECT_FALSE(attachPublishing(*form));
  form->show();
  ASSERT_TRUE(eventually([&] { return !boxes.boxes.empty(); }));
  const QStringList errors = boxes.texts(Kind::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("cannot use the CA file"))) << errors[0].toStdString();
  EXPECT_EQ(log.countWarnings(QStringLiteral("cannot use the CA file")), 1) << log.all().join('\n').toStdString();
}

TEST_F(PublishingStation, withoutTheFileNothingChanges) {
  LogCapture log("cellstation.publish");
  folder.makeDatabase(QStringLiteral("60"), 2);
  form = std::make_unique<TForm1>(boxes);
  EXPECT_FALSE(attachPublishing(*form));
  form->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(log.all().isEmpty()) << log.all().join('\n').toStdString();
}

TEST(PublishingStationProgram, killedTheBrokerSaysOfflineForIt) {
  Broker broker;
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("60"), 2);
  writeFile(folder.file(QStringLiteral("publish.ini")), settingsText(broker.port()));
  Subscriber sub(broker.port(), "cellstation/room-a/status");
  QProcess station;
  station.setWorkingDirectory(folder.path());
  station.setProcessChannelMode(QProcess::ForwardedChannels);
  station.start(QStringLiteral(CELLSTATION_PATH), {});
  ASSERT_TRUE(station.waitForStarted(10000));
  ASSERT_TRUE(sub.awaits("cellstation/room-a/status", "online", 20000));
  station.kill();
  ASSERT_TRUE(station.waitForFinished(10000));
  ASSERT_TRUE(sub.awaits("cellstation/room-a/status", "offline", 20000));
  Subscriber later(broker.port(), "cellstation/room-a/status");
  ASSERT_TRUE(later.awaits("cellstation/room-a/status", "offline"));
  EXPECT_TRUE(later.messages().back().retained);
}

}  // namespace
