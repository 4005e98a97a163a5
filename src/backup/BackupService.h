#pragma once
// The station's backups while it runs: the daily backup (DailyBackup) at start and whenever
// the local date has changed, and the operator's 备份数据库… to a file of their choice. Every
// copy runs on a thread of its own, so the window never waits for it; the result comes back to
// the window's thread.
//
// A daily backup that fails is tried again every retryMs; the first failure of a streak gives
// the onDailyFailed call (the app makes it an event) and one box, every failure a log line.
#include <QDate>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <thread>

#include "backup/core/DailyBackup.h"

class QMenu;
class QWidget;

namespace toolkit {
class HandlerGuard;
class MessageBoxes;
}  // namespace toolkit

namespace backup {

class BackupService : public QObject {
  Q_OBJECT
 public:
  struct Options {
    int checkMs = 60000;    ///< how often the date is looked at
    int retryMs = 600000;   ///< between tries of a daily backup that failed
    int keep = kKeptBackups;
  };

  /// `stationFolder` holds db1.mdb; the window, boxes and guard are borrowed. Nothing runs
  /// until start().
  BackupService(QString stationFolder, QWidget* window, toolkit::MessageBoxes& boxes, toolkit::HandlerGuard& guard,
                Options options, QObject* parent = nullptr);
  BackupService(QString stationFolder, QWidget* window, toolkit::MessageBoxes& boxes, toolkit::HandlerGuard& guard)
      : BackupService(std::move(stationFolder), window, boxes, guard, Options{}) {}
  /// Waits for a copy under way.
  ~BackupService() override;

  /// Takes today's backup if it is due and starts looking at the date.
  void start();
  /// Takes the daily backup now if it is due (and no copy is under way).
  void checkDaily();
  /// 备份数据库…: asks for a file, copies to it, and tells the operator how it went.
  void backupByHand();
  /// Adds 备份数据库… to a context menu (disabled while a copy is under way).
  void addMenuEntry(QMenu& menu);
  bool busy() const { return busy_; }

  // Replaceable in tests.
  /// The local date now.
  std::function<QDate()> today;
  /// A file to write, or empty when the operator gave none.
  std::function<QString(const QString& suggested)> askSavePath;
  /// A daily backup failed, first of a streak: its reason.
  std::function<void(const QString& failure)> onDailyFailed;

 signals:
  /// A copy ended (the daily one or the operator's); `failure` is empty when it was written.
  void finished(bool daily, const QString& failure);

 private:
  void runInThread(bool daily, const QString& target, std::function<QString()> job);
  void takeResult(bool daily, const QString& target, const QString& failure);

  QString folder_;
  QWidget* window_;
  toolkit::MessageBoxes& boxes_;
  toolkit::HandlerGuard& guard_;
  Options options_;
  DailyBackup daily_;
  QTimer timer_;
  std::thread worker_;
  bool busy_ = false;
  bool failing_ = false;
  qint64 nextTryMs_ = 0;
};

}  // namespace backup
