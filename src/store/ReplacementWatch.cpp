#include "store/ReplacementWatch.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

namespace store {

namespace {

Q_LOGGING_CATEGORY(lcWatch, "cellstation.store")

}  // namespace

ReplacementWatch::ReplacementWatch(const QString& file, QObject* parent)
    : QObject(parent), file_(file), seen_(engine::identityOf(file)) {
  const QString folder = QFileInfo(file).absolutePath();
  if (!watcher_.addPath(folder))
    qCWarning(lcWatch).noquote() << "cannot watch" << QDir::toNativeSeparators(folder)
                                 << "; a db1.mdb replaced there is noticed when the station next uses it";
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { check(); });
}

void ReplacementWatch::check() {
  const std::optional<engine::FileIdentity> now = engine::identityOf(file_);
  if (now == seen_) return;
  const bool had = seen_.has_value();
  seen_ = now;
  const QString name = QDir::toNativeSeparators(file_);
  if (now && had)
    qCWarning(lcWatch).noquote() << name + QStringLiteral(" was replaced by another file (renamed or copied into its place); "
                                                          "the station lets go of the old file and its log and goes on with the new one");
  else if (now)
    qCInfo(lcWatch).noquote() << name + QStringLiteral(" appeared; the station uses it from now on");
  else
    qCWarning(lcWatch).noquote() << name + QStringLiteral(" was removed or renamed away; the station lets go of it");
  emit replaced();
}

}  // namespace store
