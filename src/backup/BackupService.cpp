#include "backup/BackupService.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMenu>

#include "engine/Backup.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/MessageBoxes.h"

namespace backup {

namespace {

Q_LOGGING_CATEGORY(lcBackup, "cellstation.backup")

qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }

}  // namespace

BackupService::BackupService(QString stationFolder, QWidget* window, toolkit::MessageBoxes& boxes,
                             toolkit::HandlerGuard& guard, Options options, QObject* parent)
    : QObject(parent),
      folder_(std::move(stationFolder)),
      window_(window),
      boxes_(boxes),
      guard_(guard),
      options_(options),
      daily_(folder_, options.keep) {
  today = [] { return QDate::currentDate(); };
  askSavePath = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(window_, QStringLiteral("备份数据库"), QDir(folder_).filePath(suggested),
                                        QStringLiteral("数据库 (*.mdb)"));
  };
  timer_.setInterval(options_.checkMs);
  connect(&timer_, &QTimer::timeout, this, guard_.wrap([this] { checkDaily(); }));
}

BackupService::~BackupService() {
  if (worker_.joinable()) worker_.join();
}

void BackupService::start() {
  timer_.start();
  checkDaily();
}

void BackupService::checkDaily() {
  if (busy_) return;
  const QDate day = today();
  // A look at the folder: cheap enough for the window's thread once a minute.
  if (!daily_.due(day)) return;
  if (failing_ && nowMs() < nextTryMs_) return;
  runInThread(true, QString(), [daily = daily_, day]() mutable {
    const DailyBackup::Result r = daily.run(day);
    return r.failures.join(QLatin1Char('\n'));
  });
}

void BackupService::backupByHand() {
  if (busy_) return;
  const QString suggested =
      QStringLiteral("db1-%1.mdb").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")));
  const QString path = askSavePath(suggested);
  if (path.isEmpty()) return;
  const QString source = QDir(folder_).filePath(QStringLiteral("db1.mdb"));
  const QString target = QDir(folder_).absoluteFilePath(path);
  runInThread(false, target, [source, target] { return engine::backupDatabase(source, target); });
}

void BackupService::addMenuEntry(QMenu& menu) {
  menu.addSeparator();
  QAction* entry = menu.addAction(QStringLiteral("备份数据库…"));
  entry->setEnabled(!busy_);
  connect(entry, &QAction::triggered, this, guard_.wrap([this] { backupByHand(); }));
}

void BackupService::runInThread(bool daily, const QString& target, std::function<QString()> job) {
  // The previous copy has ended (busy_ is false): its thread only has to be collected.
  if (worker_.joinable()) worker_.join();
  busy_ = true;
  worker_ = std::thread([this, daily, target, job = std::move(job)] {
    QString failure;
    try {
      failure = job();
    } catch (const std::exception& e) {
      failure = QString::fromUtf8(e.what());
    }
    QMetaObject::invokeMethod(
        this, [this, daily, target, failure] { guard_.run([&] { takeResult(daily, target, failure); }); },
        Qt::QueuedConnection);
  });
}

void BackupService::takeResult(bool daily, const QString& target, const QString& failure) {
  busy_ = false;
  if (!daily) {
    if (failure.isEmpty()) {
      qCInfo(lcBackup).noquote() << "database backed up to" << target;
      boxes_.plain(window_, QStringLiteral("备份完成：%1").arg(QDir::toNativeSeparators(target)));
    } else {
      qCWarning(lcBackup).noquote() << failure;
      guard_.report(failure);
    }
  } else if (failure.isEmpty()) {
    if (failing_) qCInfo(lcBackup) << "the daily backup is written again";
    failing_ = false;
    const QString file = daily_.fileFor(today());
    if (QFileInfo::exists(file)) qCInfo(lcBackup).noquote() << "daily backup:" << file;
  } else {
    qCWarning(lcBackup).noquote() << "daily backup failed:" << failure;
    nextTryMs_ = nowMs() + options_.retryMs;
    if (!failing_) {
      failing_ = true;
      if (onDailyFailed) onDailyFailed(failure);
      guard_.report(failure);
    }
  }
  emit finished(daily, failure);
}

}  // namespace backup
