#pragma once
// The logging category of the station's desktop side: start-up, station folder, signals,
// serial-port access. Lines go wherever the application's message handler sends them.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
