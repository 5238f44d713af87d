#include "PacketSession.h"
