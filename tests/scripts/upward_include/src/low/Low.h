#pragma once
// Reaches up into a folder that comes later in the order.
#include "high/High.h"
