#include "toolkit/AtomicFile.h"

#include <QDir>
#include <QSaveFile>
#include <stdexcept>

namespace toolkit {

void writeFileAtomically(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    throw std::runtime_error(
        QStringLiteral("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString()).toStdString());
}

}  // namespace toolkit
