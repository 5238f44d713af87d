#pragma once

#include <QLoggingCategory>

// Diagnostics of the device layer ("kalvessa.device"): frames that went unanswered and the like.
// Enable with QT_LOGGING_RULES="kalvessa.device.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcDevice)
