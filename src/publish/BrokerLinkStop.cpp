// How the broker link ends: what is waiting delivered, "offline" said, a clean DISCONNECT; or
// a connection start still in its name lookup left behind.
#include <mosquitto.h>
#include <poll.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "publish/BrokerLink.h"
#include "publish/PublishLog.h"
#include "publish/core/Payloads.h"

namespace publish {

bool BrokerLink::waitForJob(Clock::time_point until) {
  for (;;) {
    if (job_->done()) return true;
    const auto left = millis(until - Clock::now());
    if (left <= 0) return false;
    pollfd p{wakeFd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 100))) > 0) drainWake();
  }
}

void BrokerLink::closing(Clock::time_point deadline) {
  if (job_) {
    // A name lookup that hangs is not worth more than two seconds of the station's stop.
    if (!waitForJob(Clock::now() + std::chrono::seconds(2)) && job_->abandon()) mosq_ = nullptr;
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

}  // namespace publish
