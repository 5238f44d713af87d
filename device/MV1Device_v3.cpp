#include "MV1Device_v3.h"
