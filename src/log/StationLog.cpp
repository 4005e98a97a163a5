#include "log/StationLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QtGlobal>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace stationlog {

namespace {

struct State {
  QMutex mutex;
  QString path;
  Limits limits;
  int fd = -1;
  std::int64_t size = 0;
  bool stderrOnly = false;  ///< the name is no regular file: nothing is written to it
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

// One line on standard error, written directly (the message handler may be the caller).
void tellStderr(const QString& text) {
  const QByteArray line = "cellstation log: " + text.toUtf8() + '\n';
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.constData(), static_cast<size_t>(line.size()));
}

// Called with the mutex held.
void closeFile(State& s) {
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
}

// Opens the log for appending, or truncated. Never follows a link and never waits: a FIFO or a
// device named like the log would block every thread at its first line, so only a regular
// file is taken; anything else sends the log to standard error, said once.
bool openFile(State& s, bool truncate) {
  const QByteArray name = QFile::encodeName(s.path);
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (truncate ? O_TRUNC : 0);
  const int fd = ::open(name.constData(), flags, 0644);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    if (fd >= 0 || err == ELOOP || err == ENXIO) {
      s.stderrOnly = true;
      tellStderr(QStringLiteral("%1 is no regular file (a link, a pipe or a device); logging to standard error only")
                     .arg(s.path));
    }
    return false;
  }
  s.fd = fd;
  s.size = st.st_size;
  return true;
}

// Called with the mutex held. Returns whether the current file may be written on.
bool rotate(State& s) {
  closeFile(s);
  const QString base = s.path;
  const QByteArray baseName = QFile::encodeName(base);
  auto numbered = [&](int i) { return QFile::encodeName(base + QStringLiteral(".%1").arg(i)); };
  ::unlink(numbered(s.limits.keep).constData());
  for (int i = s.limits.keep - 1; i >= 1; --i) ::rename(numbered(i).constData(), numbered(i + 1).constData());
  const bool moved = s.limits.keep > 0 ? ::rename(baseName.constData(), numbered(1).constData()) == 0
                                       : ::unlink(baseName.constData()) == 0;
  if (moved) return openFile(s, false);
  // A folder that lets the file be written but not renamed (or a file held by another
  // program) would make the log grow without end: begin it afresh instead.
  const QString why = QString::fromLocal8Bit(std::strerror(errno));
  if (openFile(s, true)) {
    tellStderr(QStringLiteral("%1 could not be rotated (%2); begun afresh").arg(base, why));
    return true;
  }
  return false;
}

void write(State& s, const QByteArray& line) {
  if (s.stderrOnly) return;
  if (s.fd < 0 && !openFile(s, false)) return;
  if (s.size > 0 && s.size + line.size() > s.limits.maxBytes && !rotate(s)) return;
  // A single line longer than the whole limit is cut, so no file ever exceeds it.
  const QByteArray kept = line.size() > s.limits.maxBytes ? line.left(s.limits.maxBytes - 1) + '\n' : line;
  // Unbuffered: a station that is killed keeps what it logged.
  const ssize_t n = ::write(s.fd, kept.constData(), static_cast<size_t>(kept.size()));
  if (n > 0) s.size += n;
}

// Control characters would let a logged text forge lines or terminal sequences: each is
// written as \xHH, a line break as " | ".
QString escaped(const QString& message) {
  QString text;
  text.reserve(message.size());
  for (const QChar c : message) {
    const char16_t u = c.unicode();
    if (u == u'\n') text += QStringLiteral(" | ");
    else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
      text += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
    else text += c;
  }
  return text;
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
      line += escaped(message).toUtf8();
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
    closeFile(s);
    s.stderrOnly = false;
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
    closeFile(s);
    previous = s.previous;
  }
  qInstallMessageHandler(previous);
}

}  // namespace stationlog
