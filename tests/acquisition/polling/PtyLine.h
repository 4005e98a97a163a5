#pragma once
// The far end of the station's serial line in tests: a pseudo-terminal whose slave is linked at
// the station folder's COM1, so the real Comm1 opens it; the test reads the request frames and
// writes replies on the master side.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <array>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/Frames.h"

/// Spins the event loop until `done` holds or `ms` have passed; returns whether it holds.
template <typename Pred>
bool waitUntil(Pred done, int ms = 5000) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents();
    ::usleep(1000);
  }
  return true;
}

class PtyLine {
 public:
  explicit PtyLine(const QString& linkPath) : link_(linkPath) {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);  // no echo of our replies back to us before the station opens it
    ::fcntl(master_, F_SETFL, O_NONBLOCK);
    if (!QFile::link(QString::fromLocal8Bit(::ttyname(slave_)), link_))
      throw std::runtime_error("cannot link " + link_.toStdString());
  }
  ~PtyLine() {
    QFile::remove(link_);
    ::close(slave_);
    ::close(master_);
  }
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  /// The next 13-byte request frame the station sent, spinning the event loop meanwhile, or
  /// nothing when none came within `ms`.
  std::optional<std::array<std::uint8_t, protocol::kRequestSize>> readRequest(int ms = 5000) {
    waitUntil([&] { fill(); return pending_.size() >= protocol::kRequestSize; }, ms);
    if (pending_.size() < protocol::kRequestSize) return std::nullopt;
    std::array<std::uint8_t, protocol::kRequestSize> frame{};
    std::copy_n(pending_.begin(), frame.size(), frame.begin());
    pending_.erase(pending_.begin(), pending_.begin() + protocol::kRequestSize);
    return frame;
  }

  /// Bytes the station sent that no readRequest has taken yet (read without waiting).
  std::size_t unread() {
    fill();
    return pending_.size();
  }

  void write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
      else if (n < 0 && errno != EINTR && errno != EAGAIN) throw std::runtime_error("pty write failed");
    }
  }

 private:
  void fill() {
    std::array<std::uint8_t, 512> chunk{};
    for (;;) {
      const ssize_t n = ::read(master_, chunk.data(), chunk.size());
      if (n <= 0) return;
      pending_.insert(pending_.end(), chunk.begin(), chunk.begin() + n);
    }
  }

  QString link_;
  int master_ = -1;
  int slave_ = -1;
  std::vector<std::uint8_t> pending_;
};
