#include "log/StationLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QtGlobal>
#include <atomic>
#include <cstdlib>

namespace stationlog {

namespace {

struct State {
  QMutex mutex;
  QString path;
  Limits limits;
  QFile file;
  bool installed = false;
  std::atomic<QtMessageHandler> previous{nullptr};
};

State& state() {
  static State s;
  return s;
}

const char* levelWord(QtMsgType type) {
  switch (type) {
    case QtDebugMsg: return "debug";
    case QtInfoMsg: return "info";
    case QtWarningMsg: return "warning";
    case QtCriticalMsg: return "critical";
    case QtFatalMsg: return "fatal";
  }
  return "?";
}

// Called with the mutex held.
void rotate(State& s) {
  s.file.close();
  const QString base = s.path;
  QFile::remove(base + QStringLiteral(".%1").arg(s.limits.keep));
  for (int i = s.limits.keep - 1; i >= 1; --i)
    QFile::rename(base + QStringLiteral(".%1").arg(i), base + QStringLiteral(".%1").arg(i + 1));
  if (s.limits.keep > 0) QFile::rename(base, base + QStringLiteral(".1"));
  else QFile::remove(base);
}

void write(State& s, const QByteArray& line) {
  if (!s.file.isOpen()) {
    s.file.setFileName(s.path);
    if (!s.file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
  }
  if (s.file.size() > 0 && s.file.size() + line.size() > s.limits.maxBytes) {
    rotate(s);
    s.file.setFileName(s.path);
    if (!s.file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
  }
  // A single line longer than the whole limit is cut, so no file ever exceeds it.
  const QByteArray kept = line.size() > s.limits.maxBytes ? line.left(s.limits.maxBytes - 1) + '\n' : line;
  s.file.write(kept);
  // Unbuffered as far as the process goes: a station that is killed keeps what it logged.
  s.file.flush();
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  State& s = state();
  QtMessageHandler previous = nullptr;
  // A message raised while this thread writes the log (by Qt's file code) goes to the
  // previous handler only: locking again would deadlock.
  static thread_local bool writing = false;
  if (!writing) {
    writing = true;
    QMutexLocker lock(&s.mutex);
    previous = s.previous;
    if (s.installed) {
      QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8();
      line += ' ';
      line += levelWord(type);
      line += ' ';
      line += context.category ? context.category : "default";
      line += ": ";
      QString text = message;
      text.replace(QLatin1Char('\n'), QStringLiteral(" | "));
      line += text.toUtf8();
      line += '\n';
      write(s, line);
    }
    writing = false;
  } else {
    previous = s.previous;
  }
  if (previous) previous(type, context, message);
  else if (type == QtFatalMsg) std::abort();
}

}  // namespace

void install(const QString& folder, Limits limits) {
  State& s = state();
  {
    QMutexLocker lock(&s.mutex);
    s.file.close();
    s.path = QDir(folder).absoluteFilePath(QLatin1String(kFileName));
    if (limits.maxBytes < 256) limits.maxBytes = 256;
    if (limits.keep < 0) limits.keep = 0;
    s.limits = limits;
    if (s.installed) return;
    s.installed = true;
  }
  s.previous = qInstallMessageHandler(handler);
}

void uninstall() {
  State& s = state();
  QtMessageHandler previous = nullptr;
  {
    QMutexLocker lock(&s.mutex);
    if (!s.installed) return;
    s.installed = false;
    s.file.close();
    previous = s.previous;
  }
  qInstallMessageHandler(previous);
}

}  // namespace stationlog
