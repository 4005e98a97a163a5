#include "health/LineRecovery.h"

#include <QDir>
#include <algorithm>

#include "comm/PortName.h"
#include "comm/TComm.h"
#include "health/HealthLog.h"
#include "toolkit/HandlerGuard.h"

namespace health {

LineRecovery::LineRecovery(comm::TComm& comm, toolkit::HandlerGuard& guard, QObject* parent)
    : QObject(parent), comm_(comm) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, guard.wrap([this] { retry(); }));
  comm_.SetOnRequestHangup([this](comm::TComm*) { onHangup(); });
}

LineRecovery::~LineRecovery() { comm_.SetOnRequestHangup({}); }

int LineRecovery::backoffMs(int attempt) {
  if (attempt <= 1) return 1000;
  if (attempt >= 6) return 30000;
  return 1000 << (attempt - 1);
}

void LineRecovery::pollingStarted() {
  timer_.stop();
  state_ = State::Up;
  attempts_ = 0;
  const std::string path = comm::resolvePortPath(comm_.CommName());
  device_ = path.empty() || path.front() == '/' ? path : QDir::current().absoluteFilePath(QString::fromStdString(path)).toStdString();
}

void LineRecovery::pollingStopped() {
  timer_.stop();
  state_ = State::Idle;
  attempts_ = 0;
}

void LineRecovery::requestSent(int, bool queued) {
  // A request the port would not take: closed (its opening failed) or its send thread gone.
  if (!queued && state_ == State::Up)
    goDown(comm_.IsOpen() ? QStringLiteral("the port took no request") : QStringLiteral("the port is not open"));
}

void LineRecovery::onHangup() {
  // A hang-up posted before a stop, or by the second worker of the same failure, is old news.
  if (state_ != State::Up) return;
  goDown(QStringLiteral("the port hung up"));
}

void LineRecovery::goDown(const QString& why) {
  comm_.ClosePort();
  state_ = State::Down;
  attempts_ = 0;
  ++outages_;
  downSince_ = QDateTime::currentDateTime();
  lastError_ = why;
  qCWarning(lcHealth).noquote() << "serial line" << QString::fromStdString(comm_.CommName()) << "down:" << why
                                << "- reopening with back-off";
  emit lineDown(why);
  schedule();
}

void LineRecovery::schedule() {
  const int wait = backoffMs(attempts_ + 1);
  nextAttempt_ = QDateTime::currentDateTime().addMSecs(wait);
  timer_.start(wait);
}

void LineRecovery::retry() {
  if (state_ != State::Down) return;
  ++attempts_;
  const std::string name = comm_.CommName();
  try {
    if (!device_.empty()) comm_.SetCommName(device_);
    comm_.OpenPort();
    comm_.SetCommName(name);
  } catch (const std::exception& e) {
    comm_.SetCommName(name);
    lastError_ = QString::fromUtf8(e.what());
    // One line per attempt would fill the log over a long outage; the back-off caps it at two a minute.
    qCInfo(lcHealth).noquote() << "serial line reopening attempt" << attempts_ << "failed:" << lastError_;
    schedule();
    return;
  }
  state_ = State::Up;
  const int took = attempts_;
  attempts_ = 0;
  qCInfo(lcHealth).noquote() << "serial line" << QString::fromStdString(comm_.CommName()) << "reopened after" << took
                             << "attempt(s)";
  emit lineUp(took);
}

}  // namespace health
