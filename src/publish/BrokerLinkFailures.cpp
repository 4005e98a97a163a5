// How the broker link judges a failed or lost connection: its kind, the next attempt, and
// what the log says about it (one line per outage, not one per attempt).
#include <mosquitto.h>

#include <QString>

#include "publish/BrokerLink.h"
#include "publish/FailureClass.h"
#include "publish/PublishLog.h"

namespace publish {

void BrokerLink::attemptStarted(int rc, int err) {
  if (rc == MOSQ_ERR_SUCCESS) {
    startErrno_ = err;
    connectDeadline_ = Clock::now() + std::chrono::seconds(settings_.connectTimeoutSeconds);
    return;
  }
  if (rc == MOSQ_ERR_INVAL) {
    {
      std::lock_guard lock(mutex_);
      counters_.state = State::GivenUp;
      counters_.failure = Failure::Other;
    }
    warning("the broker settings are not usable (" + describeLibraryError(rc, err) + ")");
    return;
  }
  connectionEnded(rc, err);
}

Failure BrokerLink::classify(int rc, int err, std::string& detail) const {
  FailureFacts facts;
  facts.rc = rc;
  facts.err = err;
  facts.connack = refusedCode_;
  {
    std::lock_guard lock(hub_->mutex);
    facts.libraryErrors = hub_->libraryErrors;
  }
  {
    std::lock_guard lock(mutex_);
    facts.connecting = counters_.state == State::Connecting;
  }
  facts.tls = settings_.tls;
  facts.hasUsername = !settings_.username.empty();
  return classifyFailure(facts, detail);
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
    if (flapNow) flapShown_ = true;
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

}  // namespace publish
