#pragma once
// The detector-chain simulator as a child process, linked at the station folder's COM1.
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <stdexcept>

#include "acquisition/polling/PtyLine.h"

#ifndef CELLSIM_PATH
#error "the end-to-end tests need CELLSIM_PATH"
#endif

class Cellsim {
 public:
  /// Starts cellsim with these options plus --link at `link`; returns once the link is there.
  Cellsim(const QString& link, const QStringList& options) : link_(link) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(CELLSIM_PATH), QStringList{QStringLiteral("--link"), link} + options);
    if (!process_.waitForStarted(10000)) throw std::runtime_error("cellsim did not start");
    if (!waitUntil([&] { return QFileInfo(link_).isSymLink() || process_.state() != QProcess::Running; }, 10000) ||
        !QFileInfo(link_).isSymLink())
      throw std::runtime_error("cellsim made no link at " + link_.toStdString());
  }
  ~Cellsim() { stop(); }
  Cellsim(const Cellsim&) = delete;
  Cellsim& operator=(const Cellsim&) = delete;

  /// Sends SIGTERM and waits for the exit; returns the exit code (-1 when it had to be killed).
  int stop() {
    if (process_.state() == QProcess::NotRunning) return exitCode_;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished(10000);
      return exitCode_ = -1;
    }
    return exitCode_ = process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }

  const QString& link() const { return link_; }

 private:
  QString link_;
  QProcess process_;
  int exitCode_ = -1;
};
