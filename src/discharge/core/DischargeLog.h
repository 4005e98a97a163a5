#pragma once
// The logging category of discharge detection and recording.
#include <QLoggingCategory>

namespace discharge {
Q_DECLARE_LOGGING_CATEGORY(lcDischarge)
}
