// Over a pseudo-terminal whose far end writes 228-byte frames (a reply with 108 cells):
//  (a) delay from the far end's last byte to the block handler on the owner's thread, less
//      the 100 ms gap that ends a block;
//  (b) CPU time of the whole process while the port is open and idle;
// for TComm (through the Qt pump, as in the window) and for QSerialPort with a 100 ms gap
// timer, in the same run. Usage: bench_comm [frames] [idle seconds]
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "comm/PtyPair.h"
#include "comm/TComm.h"
#include "toolkit/CommEventPump.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/MessageBoxes.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kGapMs = 100.0;
constexpr std::size_t kFrameBytes = 228;

double cpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figures {
  std::vector<double> latencyMs;
  double idleCpuPercent = 0;
  std::size_t badBlocks = 0;
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// Drives one reader: sends a frame, waits for its block, pauses 50 ms, sends the next.
// onBlock is called by the reader with the block's size.
class Driver {
 public:
  Driver(const commtest::PtyPair& pty, int frames) : pty_(pty), frames_(frames) {}

  void block(std::size_t size) {
    const auto now = Clock::now();
    if (size != kFrameBytes) ++figures.badBlocks;
    figures.latencyMs.push_back(std::chrono::duration<double, std::milli>(now - sentAt_).count() - kGapMs);
    if (static_cast<int>(figures.latencyMs.size()) >= frames_) {
      loop_.quit();
      return;
    }
    QTimer::singleShot(50, [this] { send(); });
  }

  void run() {
    QTimer::singleShot(200, [this] { send(); });
    QTimer::singleShot(frames_ * 2000 + 5000, &loop_, &QEventLoop::quit);  // a stuck reader ends the run
    loop_.exec();
  }

  void idle(int seconds) {
    const double before = cpuSeconds();
    const auto start = Clock::now();
    QTimer::singleShot(seconds * 1000, &loop_, &QEventLoop::quit);
    loop_.exec();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    figures.idleCpuPercent = 100.0 * (cpuSeconds() - before) / wall;
  }

  Figures figures;

 private:
  void send() {
    pty_.send(std::vector<std::uint8_t>(kFrameBytes, 0x5A));
    sentAt_ = Clock::now();  // the write has handed the last byte to the line
  }

  const commtest::PtyPair& pty_;
  int frames_;
  Clock::time_point sentAt_{};
  QEventLoop loop_;
};

Figures measureTComm(const commtest::PtyPair& pty, int frames, int idleSeconds) {
  toolkit::RecordingMessageBoxes boxes;
  toolkit::HandlerGuard guard(boxes, nullptr);
  comm::TComm comm;
  toolkit::CommEventPump pump(comm, guard);
  comm.SetCommName(pty.path());
  comm.SetTxContinueOnXoff(false);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
  Driver d(pty, frames);
  comm.SetOnReceiveData([&](comm::TComm*, const std::uint8_t*, std::uint16_t n) { d.block(n); });
  comm.OpenPort();
  d.idle(idleSeconds);
  d.run();
  comm.ClosePort();
  return d.figures;
}

Figures measureQSerialPort(const commtest::PtyPair& pty, int frames, int idleSeconds) {
  QSerialPort port;
  port.setPortName(QString::fromStdString(pty.path()));
  port.setBaudRate(9600);
  port.setDataBits(QSerialPort::Data8);
  port.setParity(QSerialPort::NoParity);
  port.setStopBits(QSerialPort::OneStop);
  port.setFlowControl(QSerialPort::NoFlowControl);
  if (!port.open(QIODevice::ReadWrite)) {
    std::fprintf(stderr, "QSerialPort cannot open %s: %s\n", pty.path().c_str(), qPrintable(port.errorString()));
    return {};
  }
  Driver d(pty, frames);
  QByteArray pending;
  QTimer gap;
  gap.setSingleShot(true);
  gap.setTimerType(Qt::PreciseTimer);
  gap.setInterval(static_cast<int>(kGapMs));
  QObject::connect(&port, &QSerialPort::readyRead, [&] {
    pending.append(port.readAll());
    gap.start();  // every arrival restarts the gap, as the read interval does
  });
  QObject::connect(&gap, &QTimer::timeout, [&] {
    const auto n = static_cast<std::size_t>(pending.size());
    pending.clear();
    d.block(n);
  });
  d.idle(idleSeconds);
  d.run();
  port.close();
  return d.figures;
}

void print(const char* name, const Figures& f) {
  std::printf("%-12s (a) latency past the gap, ms: median %.2f  p90 %.2f  max %.2f  (%zu frames, %zu odd blocks)\n",
              name, percentile(f.latencyMs, 0.5), percentile(f.latencyMs, 0.9), percentile(f.latencyMs, 1.0),
              f.latencyMs.size(), f.badBlocks);
  std::printf("%-12s (b) idle CPU: %.4f %% of a core\n", name, f.idleCpuPercent);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  commtest::PtyPair pty;
  std::printf("pseudo-terminal %s, %d frames of %zu bytes, %d s idle\n", pty.path().c_str(), frames, kFrameBytes,
              idleSeconds);
  const Figures ours = measureTComm(pty, frames, idleSeconds);
  print("TComm", ours);
  const Figures qt = measureQSerialPort(pty, frames, idleSeconds);
  print("QSerialPort", qt);
  std::printf("(c) side by side: median latency %.2f vs %.2f ms; idle CPU %.4f vs %.4f %%\n",
              percentile(ours.latencyMs, 0.5), percentile(qt.latencyMs, 0.5), ours.idleCpuPercent,
              qt.idleCpuPercent);
  return 0;
}
