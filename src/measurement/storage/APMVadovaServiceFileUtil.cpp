#include "measurement/storage/APMVadovaServiceFileUtil.h"

#include "VadovaUtilities/VULMainBundle.h"

std::string APMVadovaServiceFileUtil::vadovaServiceInfoPlistPath() {
    auto path = VULMainBundle::pathForResource("VadovaService-Info", "plist");
    return path ? path->string() : std::string();
}

platform::PropertyDictionary APMVadovaServiceFileUtil::dictionaryFromVadovaServiceInfoPlist() {
    std::string path = vadovaServiceInfoPlistPath();
    if (path.empty()) return {};
    auto contents = platform::readPropertyListFile(path);
    if (!contents || !contents->asDictionary()) return {};
    return *contents->asDictionary();
}
