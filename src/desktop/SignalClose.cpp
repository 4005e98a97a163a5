#include "desktop/SignalClose.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "desktop/Log.h"

namespace desktop {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kEndingRetryMs = 100;

// The write end for the handler; -1 while no instance lives.
volatile sig_atomic_t writeEnd = -1;
struct sigaction previous[3];

void onSignal(int signo) {
  const int saved = errno;
  const int fd = writeEnd;
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signo);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

const char* signalName(int signo) {
  switch (signo) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
  }
  return "a signal";
}

}  // namespace

SignalClose::SignalClose(std::function<void()> close, QObject* parent) : QObject(parent), close_(std::move(close)) {
  if (writeEnd >= 0) throw std::logic_error("SignalClose: one instance at a time");
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error(std::string("SignalClose: pipe: ") + std::strerror(errno));
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
  writeEnd = pipe_[1];
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  // Restart interrupted calls: the serial threads and SQLite need not see EINTR for this.
  sa.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &sa, &previous[i]);
}

SignalClose::~SignalClose() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
  writeEnd = -1;
  notifier_.reset();
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

void SignalClose::drain() {
  unsigned char bytes[16];
  ssize_t n;
  int last = 0;
  while ((n = ::read(pipe_[0], bytes, sizeof bytes)) > 0) last = bytes[n - 1];
  if (last == 0) return;
  lastSignal_ = last;
  qCInfo(lcDesktop, "%s received: closing the station", signalName(last));
  closeModalBoxes();
  close_();
  // The window's close ends the main event loop when that loop runs. A signal that comes while
  // the first show is still in progress (the connection failure box) closes the window before
  // the loop has started, and a handler may open another box after the one closed above: so
  // until the program ends, boxes are closed as they appear and the loop is asked to end once
  // it runs (quit() does nothing before).
  if (!ending_.isActive()) {
    connect(&ending_, &QTimer::timeout, this, [this] {
      closeModalBoxes();
      QCoreApplication::quit();
    });
    ending_.start(kEndingRetryMs);
  }
}

void SignalClose::closeModalBoxes() {
  // A modal box runs its own event loop inside a handler; closing it lets that handler finish,
  // so the station does not wait on a box nobody is there to answer.
  while (QWidget* modal = QApplication::activeModalWidget()) {
    if (!modal->close()) break;
  }
}

}  // namespace desktop
