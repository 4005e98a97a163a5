#pragma once
// Debian's mosquitto as a child process on a free loopback port, with a configuration written
// into its own temporary folder; and a subscribing client over libmosquitto that records every
// message it receives. Both for tests only; every wait is bounded.
#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <atomic>
#include <mutex>
#include <thread>
#include <stdexcept>
#include <string>
#include <vector>

/// Spins the event loop until `done` holds or `ms` have passed; returns whether it holds.
template <typename Pred>
bool eventually(Pred done, int ms = 10000) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

/// A loopback port nothing listens on at the moment of asking.
inline int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) throw std::runtime_error("socket failed");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(s);
    throw std::runtime_error("cannot find a free port");
  }
  ::close(s);
  return ntohs(a.sin_port);
}

inline bool accepting(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

class Broker {
 public:
  struct Options {
    /// user:password pairs; when given, anonymous clients are refused.
    QStringList users;
    /// PEM certificate and key: the listener speaks TLS.
    QString certFile, keyFile;
    /// 0: a free port is chosen.
    int port = 0;
  };

  Broker() : Broker(Options{}) {}
  explicit Broker(Options o) : options_(std::move(o)) {
    if (!dir_.isValid()) throw std::runtime_error("no temporary folder for the broker");
    port_ = options_.port ? options_.port : freePort();
    writeConfig();
    start();
  }
  ~Broker() { stop(); }
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  int port() const { return port_; }
  QString file(const QString& name) const { return dir_.filePath(name); }

  /// Starts it again on the same port with the same configuration and saved state.
  void start() {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(dir_.filePath(QStringLiteral("broker.log")), QIODevice::Append);
    process_.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
    if (!process_.waitForStarted(10000)) throw std::runtime_error("mosquitto did not start");
    QDeadlineTimer deadline(10000);
    while (!accepting(port_)) {
      if (process_.state() != QProcess::Running || deadline.hasExpired())
        throw std::runtime_error("mosquitto does not listen on port " + std::to_string(port_) + ": " + log().toStdString());
      QThread::msleep(20);
    }
  }

  /// SIGTERM (mosquitto saves its state) and waits for the exit.
  void stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished(10000);
    }
  }

  /// Replaces the users (user:password pairs) and lets the running broker reread them.
  void setUsers(const QStringList& users) {
    options_.users = users;
    writeConfig();
    ::kill(static_cast<pid_t>(process_.processId()), SIGHUP);
  }

  QString log() const {
    QFile f(dir_.filePath(QStringLiteral("broker.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

 private:
  void writeConfig() {
    QString conf = QStringLiteral("listener %1 127.0.0.1\n").arg(port_);
    // Run as root, mosquitto would switch to its own user, who cannot read this folder.
    if (::geteuid() == 0) conf += QStringLiteral("user root\n");
    if (!options_.certFile.isEmpty())
      conf += QStringLiteral("certfile %1\nkeyfile %2\n").arg(options_.certFile, options_.keyFile);
    if (options_.users.isEmpty()) {
      conf += QStringLiteral("allow_anonymous true\n");
    } else {
      const QString passwords = dir_.filePath(QStringLiteral("passwords"));
      QFile(passwords).open(QIODevice::WriteOnly | QIODevice::Truncate);
      for (const QString& pair : options_.users) {
        const QStringList up = pair.split(':');
        if (QProcess::execute(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-b"), passwords, up.at(0), up.at(1)}) != 0)
          throw std::runtime_error("mosquitto_passwd failed");
      }
      conf += QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords);
    }
    // Sessions and their queued messages survive a restart, as at a site whose broker reboots.
    conf += QStringLiteral("persistence true\npersistence_location %1/\n").arg(dir_.path());
    conf += QStringLiteral("log_dest stdout\nlog_type error\nlog_type warning\nlog_type notice\n");
    QFile f(dir_.filePath(QStringLiteral("mosquitto.conf")));
    if (!f.open(QIODevice::WriteOnly) || f.write(conf.toUtf8()) < 0) throw std::runtime_error("cannot write mosquitto.conf");
  }

  Options options_;
  QTemporaryDir dir_;
  int port_ = 0;
  QProcess process_;
};

/// A subscriber on its own libmosquitto thread. With a persistent session (clean = false) the
/// broker keeps its subscription and queues QoS 1 messages for it while it is away.
class Subscriber {
 public:
  struct Message {
    std::string topic;
    std::string payload;
    bool retained;
    /// CLOCK_MONOTONIC at arrival, in ns.
    std::int64_t ns;
  };

  Subscriber(int port, std::string filter, std::string clientId = {}, bool clean = true) : filter_(std::move(filter)) {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(clientId.empty() ? nullptr : clientId.c_str(), clean, this);
    if (!mosq_) throw std::runtime_error("mosquitto_new failed");
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void* self, int rc) {
      auto* s = static_cast<Subscriber*>(self);
      if (rc == 0) mosquitto_subscribe(m, nullptr, s->filter_.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
      auto* s = static_cast<Subscriber*>(self);
      std::lock_guard lock(s->mutex_);
      ++s->subscriptions_;
    });
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* s = static_cast<Subscriber*>(self);
      std::lock_guard lock(s->mutex_);
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
      s->messages_.push_back({m->topic, std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)), m->retain, ns});
    });
    if (mosquitto_connect(mosq_, "127.0.0.1", port, 10) != MOSQ_ERR_SUCCESS) throw std::runtime_error("subscriber cannot connect");
    mosquitto_loop_start(mosq_);
    if (!eventually([this] { std::lock_guard lock(mutex_); return subscriptions_ > 0; }))
      throw std::runtime_error("subscription not acknowledged");
  }
  ~Subscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
  }
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;

  std::vector<Message> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  /// Messages on one topic, in arrival order.
  std::vector<Message> on(const std::string& topic) const {
    std::vector<Message> out;
    for (auto& m : messages())
      if (m.topic == topic) out.push_back(m);
    return out;
  }
  /// Waits until a message on `topic` with this payload has arrived.
  bool awaits(const std::string& topic, const std::string& payload, int ms = 10000) const {
    return eventually([&] {
      for (auto& m : messages())
        if (m.topic == topic && m.payload == payload) return true;
      return false;
    }, ms);
  }

 private:
  std::string filter_;
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  int subscriptions_ = 0;
};

/// A loopback listener that is no broker: it accepts every connection and closes it at once
/// (a restarting broker, a load balancer without a backend), or holds it without a word.
class FakeListener {
 public:
  enum class Mode { AcceptAndClose, AcceptAndHold };
  FakeListener(int port, Mode mode) : mode_(mode) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 16) != 0) {
      ::close(fd_);
      throw std::runtime_error("the fake listener cannot listen on port " + std::to_string(port));
    }
    thread_ = std::thread([this] { run(); });
  }
  ~FakeListener() {
    stop_ = true;
    thread_.join();
    for (const int c : held_) ::close(c);
    ::close(fd_);
  }
  FakeListener(const FakeListener&) = delete;
  FakeListener& operator=(const FakeListener&) = delete;

  int accepted() const { return accepted_; }

 private:
  void run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      ++accepted_;
      if (mode_ == Mode::AcceptAndClose) ::close(c);
      else held_.push_back(c);
    }
  }

  Mode mode_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<int> held_;
  std::thread thread_;
};
