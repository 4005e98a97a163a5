#include "publish/BrokerLink.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "publish/PublishLog.h"
#include "publish/core/Payloads.h"

namespace publish {

namespace {

void info(const std::string& text) { qCInfo(lcPublish).noquote() << QString::fromStdString(text); }
void warning(const std::string& text) { qCWarning(lcPublish).noquote() << QString::fromStdString(text); }

// The library's texts end with a period; ours go on after them.
std::string describe(int rc, int err) {
  std::string text = rc == MOSQ_ERR_ERRNO ? std::strerror(err) : mosquitto_strerror(rc);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// CONNACK codes of MQTT 3.1.1 after which a new attempt with the same settings can only be
// refused again; 3 (server unavailable) passes, so it is retried.
bool finalRefusal(int code) { return code == 1 || code == 2 || code == 4 || code == 5; }

void initialiseLibrary() {
  static std::once_flag once;
  // The library's global state (and OpenSSL's) lives as long as the process: cleaning it up
  // while another link might start would be worse than the few bytes it holds.
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

const char* stateName(BrokerLink::State s) {
  switch (s) {
    case BrokerLink::State::Waiting: return "waiting";
    case BrokerLink::State::Connecting: return "connecting";
    case BrokerLink::State::Connected: return "connected";
    case BrokerLink::State::GivenUp: return "given up";
    case BrokerLink::State::Stopped: return "stopped";
  }
  return "?";
}

BrokerLink::BrokerLink(const PublishSettings& settings, std::string statusTopic)
    : settings_(settings),
      statusTopic_(std::move(statusTopic)),
      where_(settings.host + ":" + std::to_string(settings.port)),
      buffer_(static_cast<std::size_t>(settings.bufferMessages)) {
  initialiseLibrary();
  mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
  if (!mosq_) throw std::runtime_error(std::string("cannot create the MQTT client: ") + std::strerror(errno));
  const auto check = [this](int rc, const char* what) {
    if (rc == MOSQ_ERR_SUCCESS) return;
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    throw std::runtime_error(std::string(what) + ": " + mosquitto_strerror(rc));
  };
  if (!settings_.username.empty())
    check(mosquitto_username_pw_set(mosq_, settings_.username.c_str(),
                                    settings_.password.empty() ? nullptr : settings_.password.c_str()),
          "cannot set the user name");
  check(mosquitto_will_set(mosq_, statusTopic_.c_str(), static_cast<int>(std::strlen(kOffline)), kOffline, 1, true),
        "cannot set the last will");
  if (settings_.tls)
    check(mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr),
          ("cannot use the CA file " + settings_.caFile).c_str());
  mosquitto_connect_callback_set(mosq_, &BrokerLink::onConnect);
  mosquitto_disconnect_callback_set(mosq_, &BrokerLink::onDisconnect);
  mosquitto_publish_callback_set(mosq_, &BrokerLink::onPublish);
  mosquitto_log_callback_set(mosq_, &BrokerLink::onLog);

  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    const int err = errno;
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    throw std::runtime_error(std::string("cannot create the link's wake-up event: ") + std::strerror(err));
  }
  retryAt_ = Clock::now();
  thread_ = std::thread([this] { run(); });
}

BrokerLink::~BrokerLink() {
  stop();
  if (mosq_) mosquitto_destroy(mosq_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void BrokerLink::publish(std::string topic, std::string payload, bool retained) {
  bool reportDrop = false;
  std::size_t capacity = 0;
  {
    std::lock_guard lock(mutex_);
    if (stopRequested_) return;
    ++counters_.accepted;
    // Nothing will ever send it; the log has said why once already.
    if (counters_.state == State::GivenUp) {
      ++counters_.dropped;
      return;
    }
    capacity = buffer_.capacity();
    if (buffer_.push({std::move(topic), std::move(payload), retained})) {
      ++counters_.dropped;
      reportDrop = !dropReported_;
      dropReported_ = true;
    }
    counters_.buffered = buffer_.size();
  }
  if (reportDrop)
    warning("the buffer for the broker " + where_ + " is full (" + std::to_string(capacity) +
            " messages): dropping the oldest until the broker takes messages again");
  wake();
}

void BrokerLink::stop(std::chrono::milliseconds grace) {
  {
    std::lock_guard lock(mutex_);
    if (!stopRequested_) {
      stopRequested_ = true;
      grace_ = grace;
    }
  }
  wake();
  if (thread_.joinable()) thread_.join();
}

BrokerLink::Counters BrokerLink::counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

void BrokerLink::wake() {
  const std::uint64_t one = 1;
  // A full counter (never in practice) still leaves the thread woken; nothing to do on failure.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void BrokerLink::drainWake() {
  std::uint64_t value = 0;
  // EAGAIN means another wake-up was already drained; the value itself carries nothing.
  [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &value, sizeof value);
}

void BrokerLink::run() noexcept {
  // Writing to a socket the broker closed raises SIGPIPE on this thread (OpenSSL writes without
  // MSG_NOSIGNAL); blocked here, the write fails with EPIPE and the link reconnects instead of
  // the signal ending the station.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  try {
    loop();
  } catch (const std::exception& e) {
    warning(std::string("the broker link stopped on an error: ") + e.what());
  } catch (...) {
    warning("the broker link stopped on an unknown error");
  }
  std::lock_guard lock(mutex_);
  counters_.state = State::Stopped;
}

void BrokerLink::loop() {
  for (;;) {
    State state;
    bool stopping;
    {
      std::lock_guard lock(mutex_);
      state = counters_.state;
      stopping = stopRequested_;
    }
    if (stopping) {
      closing(Clock::now() + grace_);
      return;
    }
    if (state == State::Waiting && Clock::now() >= retryAt_) {
      attempt();
      continue;
    }
    const int sock = mosquitto_socket(mosq_);
    if (sock < 0 && (state == State::Connecting || state == State::Connected)) {
      connectionEnded(MOSQ_ERR_CONN_LOST, 0);
      continue;
    }
    const bool live = sock >= 0 && (state == State::Connecting || state == State::Connected);
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {sock, POLLIN, 0}};
    if (live && mosquitto_want_write(mosq_)) fds[1].events |= POLLOUT;
    // A second at most, so keep-alive pings go out on time while nothing else happens.
    int timeout = 1000;
    if (state == State::Waiting) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(retryAt_ - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, 1000));
    }
    const int rc = ::poll(fds, live ? 2 : 1, timeout);
    if (rc < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    if (rc > 0 && fds[0].revents) drainWake();
    if (live) service(rc > 0 ? fds[1].revents : 0);
  }
}

void BrokerLink::attempt() {
  {
    std::lock_guard lock(mutex_);
    ++counters_.attempts;
    counters_.state = State::Connecting;
  }
  refusedCode_ = 0;
  lastLibraryError_.clear();
  // Both calls make a non-blocking TCP connect; only the name lookup may wait, on this thread.
  const int rc = everAttempted_ ? mosquitto_reconnect_async(mosq_)
                                : mosquitto_connect_async(mosq_, settings_.host.c_str(), settings_.port,
                                                          settings_.keepAliveSeconds);
  const int err = errno;
  everAttempted_ = true;
  if (rc == MOSQ_ERR_SUCCESS) return;
  if (rc == MOSQ_ERR_TLS) {
    giveUp("the TLS handshake with the broker " + where_ + " failed" +
           (lastLibraryError_.empty() ? std::string() : ": " + lastLibraryError_));
    return;
  }
  if (rc == MOSQ_ERR_INVAL) {
    giveUp("the broker settings are not usable (" + describe(rc, err) + ")");
    return;
  }
  scheduleRetry(describe(rc, err));
}

void BrokerLink::service(short revents) {
  int rc = MOSQ_ERR_SUCCESS;
  // Writing first completes a pending TCP connect and sends CONNECT; reading then takes the
  // broker's answers.
  if ((revents & POLLOUT) || mosquitto_want_write(mosq_)) rc = mosquitto_loop_write(mosq_, 1);
  int err = errno;
  if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0 && (revents & (POLLIN | POLLERR | POLLHUP))) {
    rc = mosquitto_loop_read(mosq_, 1);
    err = errno;
  }
  if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0) {
    rc = mosquitto_loop_misc(mosq_);
    err = errno;
  }
  if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
    connectionEnded(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, err);
    return;
  }
  pump();
}

void BrokerLink::pump() {
  for (;;) {
    Message m;
    {
      std::lock_guard lock(mutex_);
      if (counters_.state != State::Connected || counters_.inFlight >= kMaxInFlight) return;
      std::optional<Message> next = buffer_.take();
      if (!next) return;
      m = std::move(*next);
      counters_.buffered = buffer_.size();
    }
    int mid = 0;
    const int rc = mosquitto_publish(mosq_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()), m.payload.data(), 1,
                                     m.retained);
    std::lock_guard lock(mutex_);
    if (rc == MOSQ_ERR_SUCCESS) {
      dataMids_.insert(mid);
      ++counters_.inFlight;
      continue;
    }
    if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_NOMEM) {
      // Back to the front, for the next connection; the buffer may have filled meanwhile.
      counters_.dropped += buffer_.putBack(std::move(m));
      counters_.buffered = buffer_.size();
      return;
    }
    // The message itself is unacceptable (too large, bad topic): retrying cannot help.
    ++counters_.dropped;
    warning("a message for " + m.topic + " was dropped: " + mosquitto_strerror(rc));
  }
}

void BrokerLink::connectionEnded(int rc, int err) {
  if (refusedCode_ != 0 && finalRefusal(refusedCode_)) {
    giveUp(std::string("the broker ") + where_ + " refused the connection (" + mosquitto_connack_string(refusedCode_) +
           "): check username, password and client_id in publish.ini; publishing is off until the station restarts");
    return;
  }
  if (rc == MOSQ_ERR_TLS) {
    giveUp("the TLS handshake with the broker " + where_ + " failed" +
           (lastLibraryError_.empty() ? std::string() : " (" + lastLibraryError_ + ")") +
           ": check ca_file and the broker's certificate; publishing is off until the station restarts");
    return;
  }
  scheduleRetry(refusedCode_ ? std::string(mosquitto_connack_string(refusedCode_)) : describe(rc, err));
}

void BrokerLink::giveUp(const std::string& why) {
  {
    std::lock_guard lock(mutex_);
    counters_.state = State::GivenUp;
  }
  warning(why);
}

void BrokerLink::scheduleRetry(const std::string& why) {
  bool wasConnected;
  std::uint64_t dropped;
  {
    std::lock_guard lock(mutex_);
    wasConnected = counters_.state == State::Connected;
    counters_.state = State::Waiting;
    dropped = counters_.dropped;
  }
  const std::chrono::milliseconds first(std::int64_t{settings_.reconnectMinSeconds} * 1000);
  const std::chrono::milliseconds longest(std::int64_t{settings_.reconnectMaxSeconds} * 1000);
  retryDelay_ = retryDelay_.count() == 0 ? first : std::min(retryDelay_ * 2, longest);
  retryAt_ = Clock::now() + retryDelay_;
  // One line per outage, not one per attempt.
  if (outageReported_) return;
  outageReported_ = true;
  droppedAtOutage_ = dropped;
  warning(std::string(wasConnected ? "lost the connection to the broker " : "cannot connect to the broker ") + where_ +
          ": " + why + "; retrying at most every " + std::to_string(settings_.reconnectMaxSeconds) +
          " s, keeping up to " + std::to_string(settings_.bufferMessages) + " messages meanwhile");
}

void BrokerLink::closing(Clock::time_point deadline) {
  const auto connected = [this] {
    std::lock_guard lock(mutex_);
    return counters_.state == State::Connected && mosquitto_socket(mosq_) >= 0;
  };
  const auto idle = [this] {
    std::lock_guard lock(mutex_);
    return buffer_.empty() && counters_.inFlight == 0;
  };
  const auto runFor = [&](auto done, Clock::time_point until) {
    while (connected() && !done() && Clock::now() < until) {
      pollfd p{mosquitto_socket(mosq_), POLLIN, 0};
      if (mosquitto_want_write(mosq_)) p.events |= POLLOUT;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      const int rc = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, 100)));
      if (rc < 0 && errno != EINTR) return;
      service(rc > 0 ? p.revents : 0);
    }
  };
  if (connected()) {
    // What is buffered first, within half the grace period, then the status; a clean
    // DISCONNECT keeps the broker from sending the last will on top.
    const auto now = Clock::now();
    runFor(idle, now + (deadline - now) / 2);
    if (connected()) {
      int mid = 0;
      if (mosquitto_publish(mosq_, &mid, statusTopic_.c_str(), static_cast<int>(std::strlen(kOffline)), kOffline,
                            1, true) == MOSQ_ERR_SUCCESS) {
        offlineMid_ = mid;
        runFor([this] { return offlineAcked_; }, deadline);
      }
    }
    if (connected()) {
      mosquitto_disconnect(mosq_);
      const auto until = Clock::now() + std::chrono::milliseconds(500);
      while (mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_) && Clock::now() < until) {
        pollfd p{mosquitto_socket(mosq_), POLLOUT, 0};
        if (::poll(&p, 1, 100) < 0 && errno != EINTR) break;
        if (mosquitto_loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS) break;
      }
    }
  }
  std::uint64_t left;
  {
    std::lock_guard lock(mutex_);
    counters_.state = State::Stopped;
    left = buffer_.size() + counters_.inFlight;
  }
  if (left) warning(std::to_string(left) + " messages for the broker " + where_ + " were not delivered before the station stopped");
}

void BrokerLink::onConnect(mosquitto*, void* self, int rc) {
  auto* link = static_cast<BrokerLink*>(self);
  if (rc != 0) {
    link->refusedCode_ = rc;
    return;
  }
  std::uint64_t dropped;
  {
    std::lock_guard lock(link->mutex_);
    link->counters_.state = State::Connected;
    ++link->counters_.connections;
    link->dropReported_ = false;
    dropped = link->counters_.dropped;
  }
  link->retryDelay_ = std::chrono::milliseconds(0);
  if (link->outageReported_)
    info("connected again to the broker " + link->where_ + "; " + std::to_string(dropped - link->droppedAtOutage_) +
         " messages were dropped while it was away");
  else
    info("connected to the broker " + link->where_ + " as " + link->settings_.clientId);
  link->outageReported_ = false;
  // Not counted with the data: the status is the link's own.
  mosquitto_publish(link->mosq_, nullptr, link->statusTopic_.c_str(), static_cast<int>(std::strlen(kOnline)),
                    kOnline, 1, true);
}

void BrokerLink::onDisconnect(mosquitto*, void*, int) {
  // The loop sees the closed socket and decides what follows.
}

void BrokerLink::onPublish(mosquitto*, void* self, int mid) {
  auto* link = static_cast<BrokerLink*>(self);
  if (mid == link->offlineMid_) link->offlineAcked_ = true;
  if (link->dataMids_.erase(mid) == 0) return;
  std::lock_guard lock(link->mutex_);
  --link->counters_.inFlight;
  ++link->counters_.delivered;
}

void BrokerLink::onLog(mosquitto*, void* self, int level, const char* text) {
  // The library's own account of a failure (OpenSSL's reason above all) completes our message.
  if ((level & MOSQ_LOG_ERR) && text) static_cast<BrokerLink*>(self)->lastLibraryError_ = text;
}

}  // namespace publish
