#include "DetectionLog.h"

Q_LOGGING_CATEGORY(lcDetection, "kalvessa.detection", QtInfoMsg)
