#pragma once
// Audience filters are stored and matched with internal names: each event
// filter's event name, each of its parameter filters' parameter names and
// each property filter's property name is replaced by its internal name
// ("screen_view" becomes "_vs"); a name without an internal twin stays.

#include "measurement/messages/APMPBMessages.h"

void APMAudienceRewriteNamesToInternal(APMPBAudience& audience);
