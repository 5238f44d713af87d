#pragma once

#include <QLoggingCategory>

// Diagnostics of discovery and the worker ("kalvessa.detection").
Q_DECLARE_LOGGING_CATEGORY(lcDetection)
