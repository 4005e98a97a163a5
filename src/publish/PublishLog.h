#pragma once
// Log lines of the broker link and the publisher (any thread).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPublish)
