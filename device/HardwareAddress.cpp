#include "HardwareAddress.h"
