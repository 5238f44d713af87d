#include "MV1Device_v4.h"
