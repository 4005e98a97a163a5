#pragma once
// Log lines of the broker link and the publisher (any thread).
#include <QLoggingCategory>
#include <string>

Q_DECLARE_LOGGING_CATEGORY(lcPublish)

namespace publish {

void info(const std::string& text);
void warning(const std::string& text);

}  // namespace publish
