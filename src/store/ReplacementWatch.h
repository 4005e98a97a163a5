#pragma once
// Notices at once when another file takes the place of db1.mdb (a copy renamed over it, the
// file removed and made anew) while the station holds it open. Until every connection to the
// old file has let go, a program opening the new file would read the old file's write-ahead
// log (found by the path) as part of it and find it damaged. Watches the station folder
// (inotify, or Qt's polling where that is not available) and compares the file's identity.
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <optional>

#include "engine/DatabaseFile.h"

namespace store {

class ReplacementWatch : public QObject {
  Q_OBJECT
 public:
  /// Watches `file` (absolute) from now on, as it stands now.
  explicit ReplacementWatch(const QString& file, QObject* parent = nullptr);

  /// Compares the file with the one last seen, as a change in the folder does; emits replaced
  /// when it changed.
  void check();

 signals:
  /// `file` now names another file than before, or none. Logged once per change.
  void replaced();

 private:
  QString file_;
  std::optional<engine::FileIdentity> seen_;
  QFileSystemWatcher watcher_;
};

}  // namespace store
