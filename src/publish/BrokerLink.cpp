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

#include "publish/PublishLog.h"
#include "publish/core/Payloads.h"

namespace publish {

// What libmosquitto's callbacks reach through their user data. It outlives the link when a
// connection start is left behind on its helper thread (which may still log through it).
struct BrokerLink::Hub {
  BrokerLink* link = nullptr;
  std::mutex mutex;
  /// The library's error lines of the current attempt (OpenSSL's reasons among them).
  std::string libraryErrors;
};

// One connection start (name lookup, TCP connect, TLS set-up) on a helper thread. Whoever
// finishes last cleans up: when the link stops first, the helper destroys the client.
struct BrokerLink::Job {
  std::mutex mutex;
  bool done = false;
  bool abandoned = false;
  int rc = MOSQ_ERR_SUCCESS;
  int err = 0;
  int wakeFd = -1;
  mosquitto* mosq = nullptr;
  std::shared_ptr<Hub> hub;
  ~Job() {
    if (wakeFd >= 0) ::close(wakeFd);
  }
};

namespace {

void info(const std::string& text) { qCInfo(lcPublish).noquote() << QString::fromStdString(text); }
void warning(const std::string& text) { qCWarning(lcPublish).noquote() << QString::fromStdString(text); }

// The library's texts end with a period; ours go on after them.
std::string describe(int rc, int err) {
  std::string text = rc == MOSQ_ERR_ERRNO ? std::strerror(err) : mosquitto_strerror(rc);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

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

template <typename D>
long long millis(D d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
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
      bool done;
      {
        std::lock_guard lock(job_->mutex);
        done = job_->done;
      }
      if (done) {
        const int rc = job_->rc, err = job_->err;
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
  auto job = std::make_shared<Job>();
  job->wakeFd = ::dup(wakeFd_);
  job->mosq = mosq_;
  job->hub = hub_;
  if (job->wakeFd < 0) throw std::runtime_error(std::string("dup: ") + std::strerror(errno));
  const bool first = !everAttempted_;
  everAttempted_ = true;
  // Both calls make a non-blocking TCP connect; the name lookup before it may take as long as
  // the DNS server wants, so it runs here, away from the link thread that stop() joins.
  std::thread([job, first, host = settings_.host, port = settings_.port, keepAlive = settings_.keepAliveSeconds] {
    blockSigpipe();
    const int rc = first ? mosquitto_connect_async(job->mosq, host.c_str(), port, keepAlive)
                         : mosquitto_reconnect_async(job->mosq);
    const int err = errno;
    std::lock_guard lock(job->mutex);
    job->done = true;
    job->rc = rc;
    job->err = err;
    if (job->abandoned) {
      mosquitto_destroy(job->mosq);
      return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(job->wakeFd, &one, sizeof one);
  }).detach();
  job_ = std::move(job);
}

void BrokerLink::attemptStarted(int rc, int err) {
  if (rc == MOSQ_ERR_SUCCESS) {
    connectDeadline_ = Clock::now() + std::chrono::seconds(settings_.connectTimeoutSeconds);
    return;
  }
  if (rc == MOSQ_ERR_INVAL) {
    {
      std::lock_guard lock(mutex_);
      counters_.state = State::GivenUp;
      counters_.failure = Failure::Other;
    }
    warning("the broker settings are not usable (" + describe(rc, err) + ")");
    return;
  }
  connectionEnded(rc, err);
}

Failure BrokerLink::classify(int rc, int err, std::string& detail) const {
  std::string library;
  {
    std::lock_guard lock(hub_->mutex);
    library = hub_->libraryErrors;
  }
  detail.clear();
  switch (refusedCode_) {
    case 0: break;
    case 3: detail = mosquitto_connack_string(refusedCode_); return Failure::Unavailable;
    // mosquitto answers a wrong password with "not authorised" as well: with a username that
    // is a refused login, which a rotated password or an authentication service back up heals.
    case 5:
      detail = mosquitto_connack_string(refusedCode_);
      return settings_.username.empty() ? Failure::NotAuthorised : Failure::LoginRefused;
    default: detail = mosquitto_connack_string(refusedCode_); return Failure::LoginRefused;
  }
  if (library.find("certificate verify failed") != std::string::npos) {
    detail = library;
    return Failure::Verification;
  }
  if (rc == MOSQ_ERR_TLS) {
    detail = library;
    return Failure::Handshake;
  }
  if (rc == MOSQ_ERR_EAI) {
    detail = describe(rc, err);
    return Failure::Lookup;
  }
  if (rc == MOSQ_ERR_KEEPALIVE) return Failure::Timeout;
  // A TLS connection closed before the broker answered CONNECT was cut in its handshake (a
  // restarting broker, a proxy without a backend, a listener that speaks no TLS).
  bool connecting;
  {
    std::lock_guard lock(mutex_);
    connecting = counters_.state == State::Connecting;
  }
  const Failure closed = settings_.tls && connecting ? Failure::Handshake : Failure::Reset;
  if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN) {
    detail = library;
    return closed;
  }
  if (rc == MOSQ_ERR_ERRNO) {
    switch (err) {
      case ECONNREFUSED: return Failure::Refused;
      case ECONNRESET:
      case ECONNABORTED:
      case EPIPE: detail = library; return closed;
      case ETIMEDOUT: return Failure::Timeout;
      case EHOSTUNREACH:
      case ENETUNREACH:
      case ENETDOWN: detail = std::strerror(err); return Failure::Unreachable;
      default: break;
    }
  }
  detail = describe(rc, err);
  return Failure::Other;
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
    // With TLS the library has already tried the refused connect and kept quiet about it;
    // a socket that never got connected to a peer says what happened all the same.
    sockaddr_storage peer{};
    socklen_t peerLen = sizeof peer;
    if (soError == 0 && ::getpeername(mosquitto_socket(mosq_), reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0 &&
        errno == ENOTCONN)
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

void BrokerLink::connectionEnded(int rc, int err) {
  std::string detail;
  const Failure f = classify(rc, err, detail);
  failed(f, detail);
}

void BrokerLink::failed(Failure f, const std::string& detail) {
  const auto now = Clock::now();
  bool wasConnected;
  std::uint64_t dropped;
  {
    std::lock_guard lock(mutex_);
    wasConnected = counters_.state == State::Connected;
    dropped = counters_.dropped;
  }
  const bool flapNow = wasConnected && flaps_.lost(now);
  if (isFinal(f)) {
    {
      std::lock_guard lock(mutex_);
      counters_.state = State::GivenUp;
      counters_.failure = f;
    }
    warning("the broker " + where_ + " cannot be used: " + failureText(f, detail) +
            "; publishing is off until publish.ini is corrected and the station restarts");
    return;
  }
  ++failures_;
  const std::chrono::milliseconds first(std::int64_t{settings_.reconnectMinSeconds} * 1000);
  const std::chrono::milliseconds longest = isSlow(f) ? std::chrono::milliseconds(kLoginRetryLongest)
                                                      : std::chrono::milliseconds(std::int64_t{settings_.reconnectMaxSeconds} * 1000);
  const auto delay = retryDelay(failures_, first, longest);
  {
    std::lock_guard lock(mutex_);
    counters_.state = State::Waiting;
    counters_.failure = f;
    retryAt_ = now + delay;
  }
  if (flapNow && !flapping_) {
    flapping_ = true;
    warning("the broker " + where_ + " closes the connection right after accepting it: is client_id " + settings_.clientId +
            " used by another station? Retrying with a growing delay, up to " +
            std::to_string(settings_.reconnectMaxSeconds) + " s");
  }
  if (isSlow(f)) {
    if (!reportedSlow_ || now - slowReportedAt_ >= kLoginReportEvery) {
      warning("the broker " + where_ + " refused the login: " + failureText(f, detail) +
              "; retrying with a growing delay, up to every 15 minutes (this is logged once an hour while it lasts)");
      slowReportedAt_ = now;
      announceConnect_ = true;
    }
    reportedSlow_ = f;
    outageReported_ = true;
    return;
  }
  // One line per outage, not one per attempt; none per drop while the broker keeps dropping us.
  if (outageReported_ || flapping_) return;
  outageReported_ = true;
  announceConnect_ = true;
  droppedAtOutage_ = dropped;
  warning(std::string(wasConnected ? "lost the connection to the broker " : "cannot connect to the broker ") + where_ +
          ": " + failureText(f, detail) + "; retrying at most every " + std::to_string(settings_.reconnectMaxSeconds) +
          " s, keeping up to " + std::to_string(settings_.bufferMessages) + " messages meanwhile");
}

bool BrokerLink::waitForJob(Clock::time_point until) {
  for (;;) {
    {
      std::lock_guard lock(job_->mutex);
      if (job_->done) return true;
    }
    const auto left = millis(until - Clock::now());
    if (left <= 0) return false;
    pollfd p{wakeFd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 100))) > 0) drainWake();
  }
}

void BrokerLink::closing(Clock::time_point deadline) {
  if (job_) {
    // A name lookup that hangs is not worth more than two seconds of the station's stop.
    if (!waitForJob(Clock::now() + std::chrono::seconds(2))) {
      std::lock_guard lock(job_->mutex);
      if (!job_->done) {
        job_->abandoned = true;
        mosq_ = nullptr;
      }
    }
    job_.reset();
    if (!mosq_) {
      std::uint64_t left;
      {
        std::lock_guard lock(mutex_);
        counters_.state = State::Stopped;
        left = buffer_.size() + states_.size();
      }
      warning("the connection to the broker " + where_ + " was still being started (name lookup) when the station stopped" +
              (left ? "; " + std::to_string(left) + " messages were not delivered" : std::string()));
      return;
    }
  }
  const auto connected = [this] {
    std::lock_guard lock(mutex_);
    return counters_.state == State::Connected && mosquitto_socket(mosq_) >= 0;
  };
  const auto idle = [this] {
    std::lock_guard lock(mutex_);
    return buffer_.empty() && states_.empty() && counters_.inFlight == 0;
  };
  const auto runFor = [&](auto done, Clock::time_point until) {
    while (connected() && !done() && Clock::now() < until) {
      pollfd p{mosquitto_socket(mosq_), POLLIN, 0};
      if (mosquitto_want_write(mosq_)) p.events |= POLLOUT;
      const auto left = millis(until - Clock::now());
      const int rc = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, 100)));
      if (rc < 0 && errno != EINTR) return;
      service(rc > 0 ? p.revents : 0);
    }
  };
  if (connected()) {
    // What is waiting first (the last "polling stopped" among it), within half the grace
    // period, then the status; a clean DISCONNECT keeps the broker from sending the last will
    // on top.
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
    left = buffer_.size() + states_.size() + counters_.inFlight;
  }
  if (left) warning(std::to_string(left) + " messages for the broker " + where_ + " were not delivered before the station stopped");
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
