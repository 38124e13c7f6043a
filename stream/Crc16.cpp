#include "stream/Crc16.h"
