#include "DeviceLog.h"

Q_LOGGING_CATEGORY(lcDevice, "kalvessa.device", QtInfoMsg)
