#include "measurement/storage/APMEnvironmentInfo.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <fstream>
#include <sstream>

#include "VadovaUtilities/VULAppEnvironmentUtil.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "platform/core/Environment.h"

std::vector<std::string> APMProcessLaunchArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    std::string argument;
    while (std::getline(in, argument, '\0')) arguments.push_back(argument);
    if (!arguments.empty()) arguments.erase(arguments.begin());
    return arguments;
}

namespace {

std::string trimmed(std::string text) {
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

std::string firstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return trimmed(line);
}

std::string osReleaseVersion() {
    std::ifstream in("/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("VERSION_ID=")) continue;
        std::string value = line.substr(11);
        value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
        return trimmed(value);
    }
    return {};
}

std::string localeLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        auto value = platform::environmentValue(name);
        if (!value || value->empty()) continue;
        std::string locale = value->substr(0, value->find_first_of(".@"));
        if (locale == "C" || locale == "POSIX") break;
        std::transform(locale.begin(), locale.end(), locale.begin(), [](unsigned char c) {
            return c == '_' ? '-' : static_cast<char>(std::tolower(c));
        });
        return locale;
    }
    return "en-us";
}

}  // namespace

APMEnvironmentInfo::APMEnvironmentInfo() {
    utsname names{};
    bool haveNames = uname(&names) == 0;
    deviceModel_ = firstLine("/sys/devices/virtual/dmi/id/product_name");
    if (deviceModel_.empty() && haveNames) deviceModel_ = names.machine;
    deviceOSVersion_ = osReleaseVersion();
    if (deviceOSVersion_.empty() && haveNames) deviceOSVersion_ = names.release;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) timeZoneOffsetMinutes_ = local.tm_gmtoff / 60;
    userDefaultLanguage_ = localeLanguage();
}

const APMEnvironmentInfo& APMEnvironmentInfo::sharedInstance() {
    static const APMEnvironmentInfo info;
    return info;
}

std::filesystem::path APMAEU::appStoreRURL() {
    auto folder = VULMainBundle::resourcesDirectory() / "_MASReceipt";
    std::error_code error;
    if (std::filesystem::exists(folder / "sandboxReceipt", error)) return folder / "sandboxReceipt";
    return folder / "receipt";
}

bool APMAEU::isASRS() { return appStoreRURL().filename() == "sandboxReceipt"; }

bool APMAEU::isFAS() { return VULAppEnvironmentUtil::isFromAppStore(); }
