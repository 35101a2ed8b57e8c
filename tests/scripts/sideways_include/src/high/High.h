#pragma once
#include "low/Low.h"
// Reaches into a folder listed earlier that its library does not link.
#include "side/Side.h"
