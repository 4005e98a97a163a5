#pragma once
// Files the station writes for the operator (exports) appear whole or not at all: written beside
// the target and renamed over it, so a full disk or a crash never leaves half a file.
#include <QByteArray>
#include <QString>

namespace toolkit {

/// Writes `bytes` to `path` atomically. Throws std::runtime_error ("无法写入 <path>：<reason>").
void writeFileAtomically(const QString& path, const QByteArray& bytes);

}  // namespace toolkit
