#pragma once
// Random instances of any message, filled at the record level so that every
// message of the schema (wrapped or not) can be produced.

#include <random>

#include "measurement/messages/MessageInfo.h"
#include "measurement/messages/MessageType.h"

// A new record of `type` with random fields; free with APMMessageInfoFree.
MessageInfo* randomRecord(const measurement::messages::MessageType& type, std::mt19937_64& random, int depth = 0);
