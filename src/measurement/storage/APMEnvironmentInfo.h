#pragma once
// Environment probes of the measurement library: the device and operating
// system, the time zone, the user's language, the process's launch
// arguments and how the application was installed.

#include <filesystem>
#include <string>
#include <vector>

// The launch arguments of this process, without the program path.
std::vector<std::string> APMProcessLaunchArguments();

class APMEnvironmentInfo {
public:
    // Reads the machine now: the hardware product name (or the machine
    // architecture), the operating system's version (os-release VERSION_ID,
    // or the kernel release), the local time zone's offset from UTC, and the
    // language of the locale variables as "en-us".
    APMEnvironmentInfo();

    static const APMEnvironmentInfo& sharedInstance();

    const std::string& deviceModel() const { return deviceModel_; }
    const std::string& deviceOSVersion() const { return deviceOSVersion_; }
    long timeZoneOffsetMinutes() const { return timeZoneOffsetMinutes_; }
    const std::string& userDefaultLanguage() const { return userDefaultLanguage_; }

private:
    std::string deviceModel_;
    std::string deviceOSVersion_;
    long timeZoneOffsetMinutes_ = 0;
    std::string userDefaultLanguage_;
};

// Install-source probes. A store receipt, when the application has one, lives
// at "_MASReceipt/receipt" (a sandbox receipt: "_MASReceipt/sandboxReceipt")
// among the application bundle's resources.
struct APMAEU {
    // The receipt file's location: the sandbox receipt when present, else the
    // store receipt's path.
    static std::filesystem::path appStoreRURL();
    // True when the receipt file is named "sandboxReceipt".
    static bool isASRS();
    // True when the application was installed from the store (as the core
    // platform's install probe answers).
    static bool isFAS();
    // Never a device of that kind here.
    static bool isNOD() { return false; }
};

// No legacy measurement class exists in this system: always false.
struct APMBackwardCompatibilityUtil {
    static bool disableZIVMeasurement() { return false; }
};
