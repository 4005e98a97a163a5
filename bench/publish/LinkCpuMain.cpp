// The broker link's CPU while the broker is down, for each way it can be down: nothing
// listening (plain and TLS), a port that accepts and closes at once (TLS), a port that
// accepts and never answers. The process does nothing else meanwhile, so its CPU time is the
// link's (its thread and the short-lived connection helpers).
#include <sys/resource.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "Broker.h"
#include "publish/BrokerLink.h"

namespace {

double cpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void measure(const char* name, const publish::PublishSettings& s, int seconds) {
  const double cpu0 = cpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  publish::BrokerLink link(s, "bench/status");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const auto c = link.counters();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = cpuSeconds() - cpu0;
  std::printf("%-34s %6.2f s wall  %7.4f s CPU  %5.2f %% of a core  %6llu attempts  %7llu loop turns\n", name, wall, cpu,
              100 * cpu / wall, static_cast<unsigned long long>(c.attempts), static_cast<unsigned long long>(c.loopTurns));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  QTemporaryDir dir;
  const QString cert = dir.filePath(QStringLiteral("ca.pem"));
  if (QProcess::execute(QStringLiteral("openssl"),
                        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                         QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                         QStringLiteral("-keyout"), dir.filePath(QStringLiteral("ca.key")), QStringLiteral("-out"), cert}) != 0)
    return 1;
  publish::PublishSettings s;
  s.host = "127.0.0.1";
  s.station = "bench";
  s.clientId = "link-cpu-bench";
  s.keepAliveSeconds = 5;
  s.reconnectMinSeconds = 1;
  s.reconnectMaxSeconds = 1;
  s.connectTimeoutSeconds = 2;

  s.port = freePort();
  measure("nothing listening, plain", s, seconds);
  auto tls = s;
  tls.tls = true;
  tls.caFile = cert.toStdString();
  tls.port = freePort();
  measure("nothing listening, TLS", tls, seconds);
  {
    FakeListener cutter(tls.port, FakeListener::Mode::AcceptAndClose);
    measure("accepts and closes, TLS", tls, seconds);
  }
  {
    FakeListener silent(tls.port, FakeListener::Mode::AcceptAndHold);
    measure("accepts and never answers, TLS", tls, seconds);
  }
  return 0;
}
