#include "stream/BitReserve.h"
