#pragma once
// Another program holding db1.mdb's write lock (python3's sqlite3, BEGIN IMMEDIATE) until the
// test lets go: the lock is taken when locked() returns true and given back by release().
#include <QByteArray>
#include <QProcess>
#include <QString>

class LockHolder {
 public:
  explicit LockHolder(const QString& folder) {
    process_.setWorkingDirectory(folder);
    process_.start(QStringLiteral("python3"),
                   {QStringLiteral("-c"), QStringLiteral("import sqlite3, sys\n"
                                                         "c = sqlite3.connect('db1.mdb', isolation_level=None)\n"
                                                         "c.execute('BEGIN IMMEDIATE')\n"
                                                         "print('locked', flush=True)\n"
                                                         "sys.stdin.readline()\n"
                                                         "c.execute('ROLLBACK')\n")});
  }
  ~LockHolder() {
    if (process_.state() != QProcess::NotRunning) release();
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool locked() {
    return process_.waitForReadyRead(30000) && process_.readLine().trimmed() == QByteArray("locked");
  }
  /// True when the holder let go and ended normally.
  bool release() {
    process_.write("\n");
    process_.closeWriteChannel();
    return process_.waitForFinished(30000) && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
  }
  QString errors() { return QString::fromUtf8(process_.readAllStandardError()); }

 private:
  QProcess process_;
};
