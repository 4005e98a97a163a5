#include "publish/PublishLog.h"

#include <QString>

Q_LOGGING_CATEGORY(lcPublish, "cellstation.publish")

namespace publish {

void info(const std::string& text) { qCInfo(lcPublish).noquote() << QString::fromStdString(text); }
void warning(const std::string& text) { qCWarning(lcPublish).noquote() << QString::fromStdString(text); }

}  // namespace publish
