// The broker link against a real mosquitto: delivery with status and last will, an outage with
// a full buffer, a broker that refuses us, a port with nothing listening, TLS.
#include <gtest/gtest.h>

#include <QProcess>
#include <algorithm>
#include <memory>
#include <thread>

#include "Broker.h"
#include "support/LogCapture.h"
#include "publish/BrokerLink.h"
#include "publish/core/Payloads.h"

namespace {

using publish::BrokerLink;
using State = BrokerLink::State;

publish::PublishSettings settingsFor(int port) {
  publish::PublishSettings s;
  s.host = "127.0.0.1";
  s.port = port;
  s.station = "room-a";
  s.clientId = "link-under-test";
  s.keepAliveSeconds = 5;
  s.reconnectMinSeconds = 1;
  s.reconnectMaxSeconds = 1;
  s.bufferMessages = 100;
  return s;
}

const std::string kStatus = "cellstation/room-a/status";

bool reaches(const BrokerLink& link, State state, int ms = 15000) {
  return eventually([&] { return link.counters().state == state; }, ms);
}

TEST(BrokerLink, deliversInOrderAndKeepsTheStatusRetained) {
  LogCapture log("cellstation.publish");
  Broker broker;
  Subscriber data(broker.port(), "cellstation/room-a/unit/#");
  auto link = std::make_unique<BrokerLink>(settingsFor(broker.port()), kStatus);
  for (int i = 1; i <= 20; ++i) link->publish("cellstation/room-a/unit/" + std::to_string(i % 3 + 1), std::to_string(i), false);
  ASSERT_TRUE(eventually([&] { return data.messages().size() == 20; })) << data.messages().size();
  // One topic keeps its order (QoS 1, one connection).
  std::vector<int> unit2;
  for (auto& m : data.on("cellstation/room-a/unit/2")) unit2.push_back(std::stoi(m.payload));
  EXPECT_EQ(unit2, (std::vector<int>{1, 4, 7, 10, 13, 16, 19}));
  // The broker passes a message on before our acknowledgement of it is read.
  ASSERT_TRUE(eventually([&] { return link->counters().delivered == 20; }));
  const auto c = link->counters();
  EXPECT_EQ(c.accepted, 20u);
  EXPECT_EQ(c.delivered, 20u);
  EXPECT_EQ(c.dropped, 0u);
  EXPECT_EQ(c.attempts, 1u);
  EXPECT_EQ(link->status().phase, publish::LinkStatus::Phase::Connected);

  // A dashboard that comes later still learns the station is online.
  Subscriber late(broker.port(), kStatus);
  ASSERT_TRUE(late.awaits(kStatus, "online"));
  EXPECT_TRUE(late.on(kStatus).front().retained);

  // An orderly stop says "offline" itself, retained, and sends no last will on top.
  link.reset();
  ASSERT_TRUE(late.awaits(kStatus, "offline"));
  Subscriber later(broker.port(), kStatus);
  ASSERT_TRUE(later.awaits(kStatus, "offline"));
  EXPECT_TRUE(later.on(kStatus).front().retained);
  EXPECT_EQ(late.on(kStatus).size(), 2u);
  EXPECT_TRUE(log.warnings().isEmpty()) << log.warnings().join('\n').toStdString();
}

TEST(BrokerLink, anOutageKeepsTheLatestMessagesAndCountsTheDropped) {
  LogCapture log("cellstation.publish");
  Broker broker;
  // A persistent session: the broker queues what arrives while this subscriber reconnects.
  Subscriber sub(broker.port(), "cellstation/room-a/unit/#", "outage-watcher", false);
  auto settings = settingsFor(broker.port());
  settings.bufferMessages = 5;
  BrokerLink link(settings, kStatus);
  for (int i = 1; i <= 3; ++i) link.publish("cellstation/room-a/unit/1", "before " + std::to_string(i), false);
  ASSERT_TRUE(eventually([&] { return link.counters().delivered == 3; }));

  broker.stop();
  ASSERT_TRUE(eventually([&] { return link.counters().state != State::Connected; }));
  for (int i = 1; i <= 12; ++i) link.publish("cellstation/room-a/unit/1", "during " + std::to_string(i), false);
  auto c = link.counters();
  EXPECT_EQ(c.buffered, 5u);
  EXPECT_EQ(c.dropped, 7u);
  // Retries go on meanwhile, without a log line each.
  ASSERT_TRUE(eventually([&] { return link.counters().attempts >= 3; }));

  broker.start();
  ASSERT_TRUE(eventually([&] { return link.counters().delivered == 8; }, 20000)) << link.counters().delivered;
  ASSERT_TRUE(sub.awaits("cellstation/room-a/unit/1", "during 12", 20000));
  // QoS 1 is at least once: the restarted broker may hand the subscriber again what it had not
  // seen acknowledged. Each message counts at its first arrival.
  std::vector<std::string> got;
  for (auto& m : sub.on("cellstation/room-a/unit/1"))
    if (std::find(got.begin(), got.end(), m.payload) == got.end()) got.push_back(m.payload);
  EXPECT_EQ(got, (std::vector<std::string>{"before 1", "before 2", "before 3", "during 8", "during 9", "during 10",
                                           "during 11", "during 12"}));
  c = link.counters();
  EXPECT_EQ(c.dropped, 7u);
  EXPECT_EQ(c.buffered, 0u);
  EXPECT_EQ(c.inFlight, 0u);
  EXPECT_EQ(c.connections, 2u);

  EXPECT_EQ(log.countWarnings(QStringLiteral("lost the connection to the broker")), 1) << log.all().join('\n').toStdString();
  EXPECT_EQ(log.countWarnings(QStringLiteral("is full (5 messages)")), 1) << log.all().join('\n').toStdString();
  EXPECT_EQ(log.warnings().size(), 2) << log.warnings().join('\n').toStdString();
  EXPECT_TRUE(log.all().filter(QStringLiteral("connected again")).join(' ').contains(QStringLiteral("7 messages were dropped")))
      << log.all().join('\n').toStdString();
}

TEST(BrokerLink, afterAConnectionHasStayedUpTheNextFailureWaitsTheFirstDelayAgain) {
  Broker broker;
  auto settings = settingsFor(broker.port());
  settings.reconnectMinSeconds = 2;
  settings.reconnectMaxSeconds = 60;
  BrokerLink link(settings, kStatus);
  ASSERT_TRUE(reaches(link, State::Connected));
  // An outage of two failures (2 s, then 4 s), then a connection that stays up past the
  // 30 s that tell a lasting connection from one the broker drops at once.
  broker.stop();
  ASSERT_TRUE(eventually([&] { return link.counters().attempts >= 2 && link.counters().state == State::Waiting; }, 30000));
  broker.start();
  ASSERT_TRUE(reaches(link, State::Connected, 30000));
  std::this_thread::sleep_for(std::chrono::seconds(32));
  ASSERT_EQ(link.counters().state, State::Connected);

  broker.stop();
  ASSERT_TRUE(reaches(link, State::Waiting));
  EXPECT_LE(link.status().retryInSeconds, 2) << "the delay went on growing from the outage before";
}

TEST(BrokerLink, aRefusedLoginIsRetriedSlowlyWithOneLineUntilTheBrokerAcceptsIt) {
  LogCapture log("cellstation.publish");
  Broker::Options o;
  o.users = {QStringLiteral("station:right")};
  Broker broker(o);
  auto settings = settingsFor(broker.port());
  settings.username = "station";
  settings.password = "rotated";
  BrokerLink link(settings, kStatus);
  link.publish("cellstation/room-a/unit/1", "kept", false);
  // mosquitto answers a wrong password with "not authorised"; with a username that is a login
  // the broker may accept later (a password rotated on its side first, its auth service back).
  ASSERT_TRUE(eventually([&] { return link.counters().attempts >= 3; }, 20000));
  EXPECT_NE(link.counters().state, State::GivenUp);
  EXPECT_EQ(link.counters().failure, publish::Failure::LoginRefused);
  EXPECT_EQ(link.counters().buffered, 1u);
  ASSERT_EQ(log.warnings().size(), 1) << log.warnings().join('\n').toStdString();
  EXPECT_TRUE(log.warnings().front().contains(QStringLiteral("refused the login"))) << log.warnings().front().toStdString();
  EXPECT_TRUE(log.warnings().front().contains(QStringLiteral("not authorised"))) << log.warnings().front().toStdString();

  broker.setUsers({QStringLiteral("station:rotated")});
  ASSERT_TRUE(eventually([&] { return link.counters().delivered == 1; }, 30000)) << publish::stateName(link.counters().state);
  EXPECT_EQ(log.warnings().size(), 1) << log.warnings().join('\n').toStdString();

  // Without a username nothing will change the broker's mind: one line, no retries.
  auto anonymous = settingsFor(broker.port());
  anonymous.clientId = "link-without-a-user";
  BrokerLink refused(anonymous, kStatus);
  ASSERT_TRUE(reaches(refused, State::GivenUp));
  QThread::msleep(2500);
  EXPECT_EQ(refused.counters().attempts, 1u);
  EXPECT_EQ(refused.status().phase, publish::LinkStatus::Phase::GivenUp);
  EXPECT_EQ(log.warnings().size(), 2) << log.warnings().join('\n').toStdString();
}

TEST(BrokerLink, aBrokerThatAcceptsButNeverAnswersEndsTheAttemptAtTheConnectLimit) {
  LogCapture log("cellstation.publish");
  const int port = freePort();
  FakeListener silent(port, FakeListener::Mode::AcceptAndHold);
  auto settings = settingsFor(port);
  settings.connectTimeoutSeconds = 2;
  // A keep-alive far longer than the limit: the limit ends the attempt, not the keep-alive.
  settings.keepAliveSeconds = 600;
  BrokerLink link(settings, kStatus);
  ASSERT_TRUE(eventually([&] { return link.counters().attempts >= 2; }, 15000));
  EXPECT_EQ(link.counters().failure, publish::Failure::Timeout);
  ASSERT_EQ(log.warnings().size(), 1) << log.warnings().join('\n').toStdString();
  EXPECT_TRUE(log.warnings().front().contains(QStringLiteral("no answer to CONNECT within 2 s")))
      << log.warnings().front().toStdString();
}

TEST(BrokerLink, twoStationsWithOneClientIdAreToldAndBackOff) {
  LogCapture log("cellstation.publish");
  Broker broker;
  auto settings = settingsFor(broker.port());
  settings.clientId = "room-a-twin";
  settings.reconnectMaxSeconds = 16;
  BrokerLink first(settings, kStatus);
  ASSERT_TRUE(reaches(first, State::Connected));
  BrokerLink second(settings, kStatus);
  ASSERT_TRUE(eventually([&] { return log.countWarnings(QStringLiteral("used by another station")) >= 1; }, 30000))
      << log.all().join('\n').toStdString();
  // The delay kept growing over the takeovers instead of starting again at every CONNACK.
  ASSERT_TRUE(eventually([&] {
    return first.status().retryInSeconds >= 3 || second.status().retryInSeconds >= 3;
  }, 30000));
  EXPECT_LE(log.countWarnings(QStringLiteral("used by another station")), 2) << log.all().join('\n').toStdString();
  EXPECT_TRUE(log.warnings().filter(QStringLiteral("client_id room-a-twin")).size() >= 1);
  // 通信统计… gives the operator the same hint while it retries.
  const std::string hint = "client_id room-a-twin 可能正被另一站使用";
  std::string lines;
  ASSERT_TRUE(eventually([&] {
    lines = publish::statusLines(first.status())[0] + "\n" + publish::statusLines(second.status())[0];
    return lines.find(hint) != std::string::npos;
  }, 30000)) << lines;
  // No line per takeover: at most the first loss of each, and the explanation of each.
  EXPECT_LE(log.warnings().size(), 4) << log.warnings().join('\n').toStdString();
}

TEST(BrokerLink, nothingListeningIsRetriedWithOneLineAndDeliveredOnceTheBrokerComes) {
  LogCapture log("cellstation.publish");
  const int port = freePort();
  auto settings = settingsFor(port);
  settings.reconnectMaxSeconds = 2;
  BrokerLink link(settings, kStatus);
  for (int i = 1; i <= 3; ++i) link.publish("cellstation/room-a/unit/1", std::to_string(i), false);
  ASSERT_TRUE(eventually([&] { return link.counters().attempts >= 3; }, 20000));
  EXPECT_EQ(link.counters().buffered, 3u);
  EXPECT_EQ(log.warnings().size(), 1) << log.warnings().join('\n').toStdString();
  EXPECT_TRUE(log.warnings().front().contains(QStringLiteral("cannot connect to the broker 127.0.0.1:%1").arg(port)));

  Broker::Options o;
  o.port = port;
  Broker broker(o);
  ASSERT_TRUE(eventually([&] { return link.counters().delivered == 3; }, 20000));
  EXPECT_EQ(link.counters().state, State::Connected);
  EXPECT_EQ(log.warnings().size(), 1) << log.warnings().join('\n').toStdString();
}

// A self-signed certificate for 127.0.0.1 made with openssl; returns false when it fails.
bool makeCertificate(const QString& dir, const QString& name) {
  return QProcess::execute(QStringLiteral("openssl"),
                           {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                            QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"),
                            dir + "/" + name + ".key", QStringLiteral("-out"), dir + "/" + name + ".pem"}) == 0;
}

TEST(BrokerLink, tlsWithTheRightAuthorityAndARefusedHandshake) {
  LogCapture log("cellstation.publish");
  QTemporaryDir certs;
  ASSERT_TRUE(makeCertificate(certs.path(), QStringLiteral("broker")));
  ASSERT_TRUE(makeCertificate(certs.path(), QStringLiteral("stranger")));
  Broker::Options o;
  o.certFile = certs.filePath(QStringLiteral("broker.pem"));
  o.keyFile = certs.filePath(QStringLiteral("broker.key"));
  Broker broker(o);

  auto settings = settingsFor(broker.port());
  settings.tls = true;
  settings.caFile = certs.filePath(QStringLiteral("broker.pem")).toStdString();
  {
    BrokerLink link(settings, kStatus);
    link.publish("cellstation/room-a/unit/1", "over tls", false);
    ASSERT_TRUE(eventually([&] { return link.counters().delivered == 1; })) << publish::stateName(link.counters().state);
  }
  EXPECT_TRUE(log.warnings().isEmpty()) << log.warnings().join('\n').toStdString();

  // A broker whose certificate our authority did not sign: one line, no retries.
  settings.caFile = certs.filePath(QStringLiteral("stranger.pem")).toStdString();
  BrokerLink link(settings, kStatus);
  ASSERT_TRUE(reaches(link, State::GivenUp));
  QThread::msleep(2500);
  EXPECT_EQ(link.counters().attempts, 1u);
  EXPECT_EQ(link.counters().failure, publish::Failure::Verification);
  ASSERT_EQ(log.warnings().size(), 1) << log.warnings().join('\n').toStdString();
  EXPECT_TRUE(log.warnings().front().contains(QStringLiteral("TLS handshake"))) << log.warnings().front().toStdString();
  EXPECT_TRUE(log.warnings().front().contains(QStringLiteral("certificate failed verification"))) << log.warnings().front().toStdString();
}

// Turns of the link's loop per connection attempt while they fail: a handful each, however
// the attempt fails; a spinning loop makes thousands.
double turnsPerAttempt(const BrokerLink& link, std::uint64_t attempts) {
  const auto start = link.counters();
  if (!eventually([&] { return link.counters().attempts >= start.attempts + attempts; }, 20000)) return 1e9;
  const auto end = link.counters();
  return double(end.loopTurns - start.loopTurns) / double(end.attempts - start.attempts);
}

TEST(BrokerLink, tlsHealsAfterRefusedAndCutHandshakesWithoutSpinning) {
  LogCapture log("cellstation.publish");
  QTemporaryDir certs;
  ASSERT_TRUE(makeCertificate(certs.path(), QStringLiteral("broker")));
  Broker::Options o;
  o.certFile = certs.filePath(QStringLiteral("broker.pem"));
  o.keyFile = certs.filePath(QStringLiteral("broker.key"));
  Broker broker(o);
  auto settings = settingsFor(broker.port());
  settings.tls = true;
  settings.caFile = o.certFile.toStdString();
  BrokerLink link(settings, kStatus);
  ASSERT_TRUE(reaches(link, State::Connected));

  // The broker goes: connections are refused.
  broker.stop();
  EXPECT_LT(turnsPerAttempt(link, 3), 40);
  EXPECT_EQ(link.counters().failure, publish::Failure::Refused);
  {
    // The port accepts and closes at once: handshakes cut short, retried all the same.
    FakeListener cutter(broker.port(), FakeListener::Mode::AcceptAndClose);
    EXPECT_LT(turnsPerAttempt(link, 3), 40);
    EXPECT_GE(cutter.accepted(), 2);
    EXPECT_NE(link.counters().state, State::GivenUp);
  }
  broker.start();
  link.publish("cellstation/room-a/unit/1", "after", false);
  ASSERT_TRUE(eventually([&] { return link.counters().delivered == 1; }, 20000)) << publish::stateName(link.counters().state);
  EXPECT_EQ(link.counters().connections, 2u);
  EXPECT_EQ(log.countWarnings(QStringLiteral("cannot be used")), 0) << log.all().join('\n').toStdString();

  // TLS against a listener that speaks plain MQTT: a handshake that fails is retried too.
  Broker plain;
  settings.port = plain.port();
  BrokerLink mismatch(settings, kStatus);
  EXPECT_LT(turnsPerAttempt(mismatch, 2), 40);
  EXPECT_EQ(mismatch.counters().failure, publish::Failure::Handshake);
}

}  // namespace
