#pragma once
// Programs run to their end with bounded waits, for the tests against real clients.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <stdexcept>
#include <string>

#include "controlroom/RawClient.h"

struct Ran {
  int status = -1;
  std::string out;
};

/// Runs a program to its end (at most `ms`), its standard output and error merged.
inline Ran run(const QString& program, const QStringList& args, const QByteArray& input = {}, int ms = 20000) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForStarted(10000)) throw std::runtime_error("cannot start " + program.toStdString());
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(ms)) {
    p.kill();
    p.waitForFinished(5000);
    throw std::runtime_error(program.toStdString() + " did not finish");
  }
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll().toStdString()};
}

