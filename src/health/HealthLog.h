#pragma once
// The logging category of line health, alarms and the event record.
#include <QLoggingCategory>

namespace health {
Q_DECLARE_LOGGING_CATEGORY(lcHealth)
}
