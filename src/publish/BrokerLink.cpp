#include "publish/BrokerLink.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "publish/FailureClass.h"
#include "publish/PublishLog.h"
#include "publish/core/Payloads.h"

namespace publish {

namespace {

void blockSigpipe() {
  // Writing to a socket the broker closed raises SIGPIPE on the writing thread (OpenSSL
  // writes without MSG_NOSIGNAL); blocked, the write fails with EPIPE and the link reconnects
  // instead of the signal ending the station.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

void initialiseLibrary() {
  static std::once_flag once;
  // The library's global state (and OpenSSL's) lives as long as the process: cleaning it up
  // while another link might start would be worse than the few bytes it holds.
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// Rounded up, so a poll never wakes a fraction of a millisecond early and turns again at once.
template <typename D>
long long millisUp(D d) {
  return std::chrono::ceil<std::chrono::milliseconds>(d).count();
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

BrokerLink::BrokerLink(const PublishSettings& settings, std::string statusTopic, Incoming incoming)
    : settings_(settings),
      statusTopic_(std::move(statusTopic)),
      where_(settings.host + ":" + std::to_string(settings.port)),
      incoming_(std::move(incoming)),
      hub_(std::make_shared<Hub>()),
      buffer_(static_cast<std::size_t>(settings.bufferMessages)) {
  initialiseLibrary();
  hub_->link = this;
  if (settings_.tls && ::access(settings_.caFile.c_str(), R_OK) != 0)
    throw std::runtime_error("cannot use the CA file " + settings_.caFile + ": " + std::strerror(errno));
  mosq_ = mosquitto_new(settings_.clientId.c_str(), true, hub_.get());
  if (!mosq_) throw std::runtime_error(std::string("cannot create the MQTT client: ") + std::strerror(errno));
  const auto check = [this](int rc, const std::string& what) {
    if (rc == MOSQ_ERR_SUCCESS) return;
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    throw std::runtime_error(what + ": " + mosquitto_strerror(rc));
  };
  if (!settings_.username.empty())
    check(mosquitto_username_pw_set(mosq_, settings_.username.c_str(),
                                    settings_.password.empty() ? nullptr : settings_.password.c_str()),
          "cannot set the user name");
  check(mosquitto_will_set(mosq_, statusTopic_.c_str(), static_cast<int>(std::strlen(kOffline)), kOffline, 1, true),
        "cannot set the last will");
  if (settings_.tls)
    check(mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr),
          "cannot use the CA file " + settings_.caFile);
  mosquitto_connect_callback_set(mosq_, &BrokerLink::onConnect);
  mosquitto_disconnect_callback_set(mosq_, &BrokerLink::onDisconnect);
  mosquitto_publish_callback_set(mosq_, &BrokerLink::onPublish);
  mosquitto_message_callback_set(mosq_, &BrokerLink::onMessage);
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
    counters_.buffered = buffer_.size() + states_.size();
  }
  if (reportDrop)
    warning("the buffer for the broker " + where_ + " is full (" + std::to_string(capacity) +
            " messages): dropping the oldest until the broker takes messages again");
  wake();
}

void BrokerLink::publishState(std::string topic, std::string payload) {
  {
    std::lock_guard lock(mutex_);
    if (stopRequested_) return;
    ++counters_.accepted;
    if (counters_.state == State::GivenUp) {
      ++counters_.dropped;
      return;
    }
    states_[std::move(topic)] = std::move(payload);
    counters_.buffered = buffer_.size() + states_.size();
  }
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

LinkStatus BrokerLink::status() const {
  std::lock_guard lock(mutex_);
  LinkStatus s;
  s.where = where_;
  s.buffered = counters_.buffered;
  s.sent = counters_.delivered;
  s.dropped = counters_.dropped;
  s.failure = counters_.failure;
  if (flapShown_) s.sharedClientId = settings_.clientId;
  switch (counters_.state) {
    case State::Waiting:
      if (counters_.attempts == 0) break;
      s.phase = LinkStatus::Phase::Retrying;
      s.retryInSeconds = static_cast<int>(std::max<long long>(0, (millis(retryAt_ - Clock::now()) + 999) / 1000));
      break;
    case State::Connecting: s.phase = LinkStatus::Phase::Connecting; break;
    case State::Connected: s.phase = LinkStatus::Phase::Connected; break;
    case State::GivenUp: s.phase = LinkStatus::Phase::GivenUp; break;
    case State::Stopped: s.phase = LinkStatus::Phase::Stopped; break;
  }
  return s;
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
  blockSigpipe();
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
    Clock::time_point retryAt;
    {
      std::lock_guard lock(mutex_);
      ++counters_.loopTurns;
      state = counters_.state;
      stopping = stopRequested_;
      retryAt = retryAt_;
    }
    if (stopping) {
      closing(Clock::now() + grace_);
      return;
    }
    const auto now = Clock::now();
    if (job_) {
      if (job_->done()) {
        const int rc = job_->rc(), err = job_->err();
        job_.reset();
        attemptStarted(rc, err);
        continue;
      }
      pollfd wakeOnly{wakeFd_, POLLIN, 0};
      if (::poll(&wakeOnly, 1, 1000) > 0) drainWake();
      continue;
    }
    if (state == State::Waiting && now >= retryAt) {
      attempt();
      continue;
    }
    if (state == State::Connected && flaps_.settle(now)) {
      // Up long enough: the next failure starts the schedule from the beginning and is a new
      // outage for the log. A connection lost sooner belongs to the outage before it.
      failures_ = 0;
      outageReported_ = false;
      if (flapping_) info("the connection to the broker " + where_ + " has stayed up; it no longer drops right away");
      flapping_ = false;
      std::lock_guard lock(mutex_);
      flapShown_ = false;
    }
    if (state == State::Connecting && now >= connectDeadline_) {
      failed(Failure::Timeout, "no answer to CONNECT within " + std::to_string(settings_.connectTimeoutSeconds) + " s");
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
    long long timeout = 1000;
    if (state == State::Waiting) timeout = millisUp(retryAt - now);
    if (state == State::Connecting) timeout = millisUp(connectDeadline_ - now);
    const int rc = ::poll(fds, live ? 2 : 1, static_cast<int>(std::clamp<long long>(timeout, 0, 1000)));
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
  {
    std::lock_guard lock(hub_->mutex);
    hub_->libraryErrors.clear();
  }
  const bool first = !everAttempted_;
  everAttempted_ = true;
  job_ = ConnectStart::begin(mosq_, first, settings_.host, settings_.port, settings_.keepAliveSeconds, wakeFd_, hub_);
}

void BrokerLink::service(short revents) {
  // An error or hang-up on the socket is final for this connection. Its reason is taken before
  // the library reads it away (a refused connect would end as "reset"); the library may also
  // answer "try again" to it (a refused TLS connect), and poll would report it again at once,
  // forever.
  const bool hungUp = revents & (POLLERR | POLLHUP);
  int soError = 0;
  if (hungUp) {
    socklen_t len = sizeof soError;
    if (::getsockopt(mosquitto_socket(mosq_), SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = 0;
    // With TLS the library has already met the refused connect, reported success and left
    // only errno behind; a socket without a peer confirms it (a reset one has none either,
    // but its start left no ECONNREFUSED).
    sockaddr_storage peer{};
    socklen_t peerLen = sizeof peer;
    if (soError == 0 && startErrno_ == ECONNREFUSED &&
        ::getpeername(mosquitto_socket(mosq_), reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0 && errno == ENOTCONN)
      soError = ECONNREFUSED;
  }
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
  if (soError != 0) {
    rc = MOSQ_ERR_ERRNO;
    err = soError;
  } else if (hungUp && rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0) {
    rc = MOSQ_ERR_ERRNO;
    err = ECONNRESET;
  }
  if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
    connectionEnded(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, err);
    return;
  }
  pump();
}

bool BrokerLink::takeNext(Message& m, bool& state) {
  std::lock_guard lock(mutex_);
  if (counters_.state != State::Connected || counters_.inFlight >= kMaxInFlight) return false;
  state = !states_.empty();
  if (state) {
    auto first = states_.begin();
    m = {first->first, std::move(first->second), true};
    states_.erase(first);
  } else {
    std::optional<Message> next = buffer_.take();
    if (!next) return false;
    m = std::move(*next);
  }
  counters_.buffered = buffer_.size() + states_.size();
  return true;
}

void BrokerLink::pump() {
  Message m;
  bool state = false;
  while (takeNext(m, state)) {
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
      // Back to the front, for the next connection; the buffer may have filled meanwhile. A
      // state message gives way to a newer one on its topic.
      if (state)
        states_.emplace(m.topic, std::move(m.payload));
      else
        counters_.dropped += buffer_.putBack(std::move(m));
      counters_.buffered = buffer_.size() + states_.size();
      return;
    }
    // The message itself is unacceptable (too large, bad topic): retrying cannot help.
    ++counters_.dropped;
    warning("a message for " + m.topic + " was dropped: " + mosquitto_strerror(rc));
  }
}

void BrokerLink::onConnect(mosquitto*, void* hub, int rc) {
  BrokerLink* link = static_cast<Hub*>(hub)->link;
  if (!link) return;
  if (rc != 0) {
    link->refusedCode_ = rc;
    return;
  }
  std::uint64_t dropped;
  {
    std::lock_guard lock(link->mutex_);
    link->counters_.state = State::Connected;
    link->counters_.failure.reset();
    ++link->counters_.connections;
    link->dropReported_ = false;
    dropped = link->counters_.dropped;
  }
  link->flaps_.connected(Clock::now());
  // One line for the connection after each line about a failure.
  if (link->announceConnect_ && !link->flapping_) {
    if (link->reportedSlow_)
      info("the broker " + link->where_ + " accepted the login again");
    else if (link->outageReported_)
      info("connected again to the broker " + link->where_ + "; " + std::to_string(dropped - link->droppedAtOutage_) +
           " messages were dropped while it was away");
    else
      info("connected to the broker " + link->where_ + " as " + link->settings_.clientId);
    link->announceConnect_ = false;
  }
  link->reportedSlow_.reset();
  for (const std::string& topic : link->incoming_.topics) mosquitto_subscribe(link->mosq_, nullptr, topic.c_str(), 1);
  // Not counted with the data: the status is the link's own.
  mosquitto_publish(link->mosq_, nullptr, link->statusTopic_.c_str(), static_cast<int>(std::strlen(kOnline)),
                    kOnline, 1, true);
  if (link->incoming_.connected) link->incoming_.connected();
}

void BrokerLink::onDisconnect(mosquitto*, void*, int) {
  // The loop sees the closed socket and decides what follows.
}

void BrokerLink::onPublish(mosquitto*, void* hub, int mid) {
  BrokerLink* link = static_cast<Hub*>(hub)->link;
  if (!link) return;
  if (mid == link->offlineMid_) link->offlineAcked_ = true;
  if (link->dataMids_.erase(mid) == 0) return;
  std::lock_guard lock(link->mutex_);
  --link->counters_.inFlight;
  ++link->counters_.delivered;
}

void BrokerLink::onMessage(mosquitto*, void* hub, const mosquitto_message* m) {
  BrokerLink* link = static_cast<Hub*>(hub)->link;
  if (!link || !link->incoming_.handler || !m || !m->topic) return;
  link->incoming_.handler(m->topic, std::string(static_cast<const char*>(m->payload),
                                                static_cast<std::size_t>(std::max(0, m->payloadlen))));
}

void BrokerLink::onLog(mosquitto*, void* hub, int level, const char* text) {
  // The library's own account of a failure (OpenSSL's reason above all) completes our message.
  // May run on a connection's helper thread.
  if (!(level & MOSQ_LOG_ERR) || !text) return;
  auto* h = static_cast<Hub*>(hub);
  std::lock_guard lock(h->mutex);
  if (h->libraryErrors.size() > 400) return;
  if (!h->libraryErrors.empty()) h->libraryErrors += "; ";
  h->libraryErrors += text;
}

}  // namespace publish
