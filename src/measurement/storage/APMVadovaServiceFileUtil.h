#pragma once
// The application's service property list ("VadovaService-Info.plist"),
// among the application bundle's resources.

#include <string>

#include "platform/core/PropertyList.h"

struct APMVadovaServiceFileUtil {
    // The file's path, or empty when there is none.
    static std::string vadovaServiceInfoPlistPath();
    // Its top-level dictionary; empty when the file is absent or unreadable.
    static platform::PropertyDictionary dictionaryFromVadovaServiceInfoPlist();
};
