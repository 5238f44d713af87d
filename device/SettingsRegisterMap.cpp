#include "SettingsRegisterMap.h"
