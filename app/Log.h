#pragma once

#include <QLoggingCategory>

// Logging categories per area; enable with QT_LOGGING_RULES="kestrava.*=true".
Q_DECLARE_LOGGING_CATEGORY(lcApp)
