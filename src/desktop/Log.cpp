#include "desktop/Log.h"

Q_LOGGING_CATEGORY(lcDesktop, "cellstation.desktop", QtInfoMsg)
