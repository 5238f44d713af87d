#include "MV1Device.h"
