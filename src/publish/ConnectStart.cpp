#include "publish/ConnectStart.h"

#include <mosquitto.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace publish {

std::shared_ptr<ConnectStart> ConnectStart::begin(mosquitto* mosq, bool first, const std::string& host, int port,
                                                  int keepAlive, int wakeFd, std::shared_ptr<void> keep) {
  std::shared_ptr<ConnectStart> start(new ConnectStart);
  start->mosq_ = mosq;
  start->keep_ = std::move(keep);
  start->wakeFd_ = ::dup(wakeFd);
  if (start->wakeFd_ < 0) throw std::runtime_error(std::string("dup: ") + std::strerror(errno));
  std::thread([start, first, host, port, keepAlive] {
    // As on the link thread: a write to a closed socket fails with EPIPE instead of a signal.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    const int rc = first ? mosquitto_connect_async(start->mosq_, host.c_str(), port, keepAlive)
                         : mosquitto_reconnect_async(start->mosq_);
    const int err = errno;
    std::lock_guard lock(start->mutex_);
    start->done_ = true;
    start->rc_ = rc;
    start->err_ = err;
    if (start->abandoned_) {
      mosquitto_destroy(start->mosq_);
      return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(start->wakeFd_, &one, sizeof one);
  }).detach();
  return start;
}

ConnectStart::~ConnectStart() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool ConnectStart::done() const {
  std::lock_guard lock(mutex_);
  return done_;
}

int ConnectStart::rc() const {
  std::lock_guard lock(mutex_);
  return rc_;
}

int ConnectStart::err() const {
  std::lock_guard lock(mutex_);
  return err_;
}

bool ConnectStart::abandon() {
  std::lock_guard lock(mutex_);
  if (done_) return false;
  abandoned_ = true;
  return true;
}

}  // namespace publish
