#include "InterfaceDiscovery.h"
