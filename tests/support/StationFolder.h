#pragma once
// A temporary station folder made the working directory for the life of the object, optionally
// holding a fresh db1.mdb written by scripts/make-station-db.sh. The previous working directory
// comes back afterwards.
#include <QDir>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <stdexcept>

#ifndef CELLSTATION_SOURCE_DIR
#error "tests need CELLSTATION_SOURCE_DIR"
#endif

class StationFolder {
 public:
  StationFolder() : previous_(QDir::currentPath()) {
    if (!dir_.isValid()) throw std::runtime_error("cannot make a temporary folder");
    QDir::setCurrent(dir_.path());
  }
  ~StationFolder() { QDir::setCurrent(previous_); }
  StationFolder(const StationFolder&) = delete;
  StationFolder& operator=(const StationFolder&) = delete;

  QString path() const { return dir_.path(); }
  QString file(const QString& name) const { return dir_.filePath(name); }

  /// Writes db1.mdb with one settings row; throws when the script fails.
  void makeDatabase(const QString& interval, int unitCount) const {
    const QString script = QStringLiteral(CELLSTATION_SOURCE_DIR "/scripts/make-station-db.sh");
    QProcess p;
    p.start(QStringLiteral("bash"), {script, dir_.path(), interval, QString::number(unitCount)});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
      throw std::runtime_error("make-station-db.sh failed: " + p.readAllStandardError().toStdString());
  }

 private:
  QString previous_;
  QTemporaryDir dir_;
};
