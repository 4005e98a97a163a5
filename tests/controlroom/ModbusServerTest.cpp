// The Modbus server on its thread with raw clients on loopback: many at once, and clients that
// misbehave. No Qt, so these also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "controlroom/RawClient.h"
#include "modbus/ModbusServer.h"

namespace {

struct Server {
  explicit Server(int idleSeconds = 60, int maxClients = 32) {
    acquisition::StationSnapshot s;
    s.unitCount = 3;
    for (int u = 1; u <= 3; ++u) {
      s.unit(u).cellCount = 24;
      for (int k = 1; k <= 24; ++k) s.unit(u).cellVolts[static_cast<std::size_t>(k - 1)] = 2.2 + 0.001 * (u * 100 + k);
    }
    board.publish(s);
    server = modbus::startModbusServer({true, "127.0.0.1", 0, maxClients, idleSeconds}, board, [this](const std::string& line) {
      std::lock_guard lock(mutex);
      log.push_back(line);
    });
  }
  int port() const { return server->port(); }
  /// A new client reads cell 1 of unit 1.
  bool serves() const {
    Client c(port());
    c.send(readRequest(1, 1, 1));
    const std::string a = c.receive(11);
    return a.size() == 11 && static_cast<std::uint8_t>(a[9]) == 2301 >> 8 && static_cast<std::uint8_t>(a[10]) == (2301 & 0xFF);
  }

  acquisition::SnapshotBoard board;
  std::mutex mutex;
  std::vector<std::string> log;
  std::unique_ptr<controlroom::TcpServer> server;
};

TEST(ModbusServer, TwentyConcurrentClientsEachReadTheirUnitsMap) {
  Server room;
  constexpr int kClients = 20, kReads = 50;
  std::latch connected(kClients);
  std::atomic<int> good{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] {
      Client c(room.port());
      connected.arrive_and_wait();  // all 20 connections are open at once
      const int unit = 1 + i % 3;
      for (int n = 0; n < kReads; ++n) {
        c.send(readRequest(unit, 0, 124, i * 100 + n));
        const std::string a = c.receive(9 + 248);
        const int cell1 = a.size() == 257 ? (static_cast<std::uint8_t>(a[11]) << 8 | static_cast<std::uint8_t>(a[12])) : -1;
        if (a.size() == 257 && a[1] == static_cast<char>(i * 100 + n) && cell1 == 2201 + 100 * (unit - 1) + 100) ++good;
      }
    });
  for (auto& t : clients) t.join();
  EXPECT_EQ(good.load(), kClients * kReads);
  const auto counts = room.server->counts();
  EXPECT_EQ(counts.accepted, static_cast<std::uint64_t>(kClients));
  EXPECT_EQ(counts.refused, 0u);
}

TEST(ModbusServer, SilentBrokenAndFloodingClientsHoldUpNobody) {
  Server room(/*idleSeconds=*/1, /*maxClients=*/4);
  const int port = room.port();

  // A client that connects and sends nothing: others are served meanwhile; it is closed after
  // the idle timeout.
  Client silent(port);
  EXPECT_TRUE(room.serves());
  EXPECT_TRUE(silent.closedWithin(5000));

  // A length field that does not fit the function: exception 3, the connection still serves.
  Client wrong(port);
  std::string frame = readRequest(1, 0, 1, 7);
  frame[5] = 9;
  wrong.send(frame + std::string(3, '\0'));
  EXPECT_EQ(wrong.receive(9), (std::string{0, 7, 0, 0, 0, 3, 1, '\x83', 3}));
  wrong.send(readRequest(1, 0, 1, 8));
  EXPECT_EQ(wrong.receive(11).size(), 11u);
  // A length field no Modbus frame has: the connection is closed at once.
  Client broken(port);
  frame[4] = 1;  // 265 bytes
  broken.send(frame);
  EXPECT_TRUE(broken.closedWithin(5000));

  // A client sending requests without reading the answers is held up, not buffered without end;
  // other clients are still answered.
  Client flood(port, 4096);
  std::string burst;
  for (int i = 0; i < 4000; ++i) burst += readRequest(2, 0, 124, i);  // 1 MB of answers
  EXPECT_EQ(flood.sendSome(burst), burst.size());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (room.server->counts().held == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GT(room.server->counts().held, 0u);
  EXPECT_TRUE(room.serves());
  EXPECT_GE(room.server->counts().malformed, 2u);
}

TEST(ModbusServer, ConnectionsBeyondMaxClientsAreClosed) {
  Server room(60, 2);
  Client a(room.port()), b(room.port());
  for (Client* c : {&a, &b}) {
    c->send(readRequest(1, 0, 1));
    ASSERT_EQ(c->receive(11).size(), 11u);
  }
  Client c(room.port());
  EXPECT_TRUE(c.closedWithin(5000));
  EXPECT_EQ(room.server->counts().refused, 1u);
  a.send(readRequest(1, 0, 1));
  EXPECT_EQ(a.receive(11).size(), 11u);
}

TEST(ModbusServer, ClientsOpeningAConnectionPerReadAreNeverRefused) {
  // As many places as clients: each client closes its connection before opening the next, so a
  // place is always free once the server has noticed the close.
  constexpr int kClients = 4, kReads = 150;
  Server room(60, kClients);
  std::atomic<int> good{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&] {
      for (int n = 0; n < kReads; ++n) {
        Client c(room.port());
        c.send(readRequest(1, 1, 1, n));
        if (c.receive(11).size() == 11) ++good;
      }
    });
  for (auto& t : clients) t.join();
  EXPECT_EQ(good.load(), kClients * kReads);
  EXPECT_EQ(room.server->counts().refused, 0u);
}

}  // namespace

namespace {

// Faults are summed up in the log, one line per interval at most, and only when there were some.
TEST(TcpServer, FaultsAreLoggedAsCountsPerInterval) {
  std::mutex mutex;
  std::vector<std::string> log;
  controlroom::ServerOptions o;
  o.name = "test";
  o.logInterval = std::chrono::milliseconds(200);
  // Every byte is a malformed request.
  controlroom::TcpServer server(o, [](std::string_view in, std::string&) { return controlroom::Served{in.empty() ? 0u : 1u, false, true}; },
                                [&](const std::string& line) {
                                  std::lock_guard lock(mutex);
                                  log.push_back(line);
                                });
  Client c(server.port());
  c.send("xyz");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  auto lines = [&] {
    std::lock_guard lock(mutex);
    return log;
  };
  while (server.counts().malformed < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  while (lines().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // Three more intervals pass without a fault: no more lines.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const auto got = lines();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "test: since the last report 3 malformed requests, 0 idle connections closed, "
                    "0 closed for a request not whole in time, 0 connections refused (max_clients), "
                    "0 clients held up for not reading");
}

}  // namespace

namespace {

// A line protocol: every line is a request; "." asks for nothing back, any other line is
// answered "ok".
controlroom::Served lines(std::string_view in, std::string& out) {
  const std::size_t end = in.find('\n');
  if (end == std::string_view::npos) return {};
  if (in.substr(0, end) != ".") out += "ok\n";
  return {end + 1, false, false};
}

TEST(TcpServer, AClientThatKeepsAskingIsNeverIdleAndTheInputBoundHoldsAtExactlyItsSize) {
  controlroom::ServerOptions o;
  o.name = "test";
  o.idleTimeout = std::chrono::milliseconds(1000);
  o.maxInput = 64;
  controlroom::TcpServer server(o, lines, [](const std::string&) {});

  // Requests that get no answer, one every 100 ms for three idle timeouts: still served after.
  Client asking(server.port());
  for (int i = 0; i < 30; ++i) {
    asking.send(".\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  asking.send("?\n");
  EXPECT_EQ(asking.receive(3), "ok\n");
  EXPECT_EQ(server.counts().idleClosed, 0u);

  // A request of exactly maxInput bytes is served; one byte more closes the connection.
  Client exact(server.port());
  exact.send(std::string(63, 'x') + "\n");
  EXPECT_EQ(exact.receive(3), "ok\n");
  EXPECT_EQ(server.counts().malformed, 0u);
  Client over(server.port());
  over.send(std::string(64, 'x') + "\n");
  EXPECT_TRUE(over.closedWithin(5000));
  EXPECT_EQ(server.counts().malformed, 1u);
}

TEST(TcpServer, AClientHeldUpForNotReadingIsServedAgainOnceItReads) {
  controlroom::ServerOptions o;
  o.name = "test";
  o.maxOutput = 1024;
  o.kernelSendBuffer = 4096;
  controlroom::TcpServer server(o, lines, [](const std::string&) {});
  // Requests sent without reading the answers until the server holds the client up.
  Client flood(server.port(), 4096);
  std::string requests;
  for (int i = 0; i < 20000; ++i) requests += "?\n";
  const std::size_t sent = flood.sendSome(requests);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (server.counts().held == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GT(server.counts().held, 0u);
  // Read now, it gets every answer.
  const std::size_t answers = sent / 2 * 3;
  EXPECT_EQ(flood.receive(answers, 30000).size(), answers);
}

}  // namespace
