#include "FirmwareProgramming.h"
