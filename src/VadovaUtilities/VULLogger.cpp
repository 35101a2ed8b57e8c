#include "VadovaUtilities/VULLogger.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

struct SharedLogger {
    std::mutex mutex;
    std::string version;
    VULLoggerSink sink;
};

SharedLogger& sharedLogger() {
    static SharedLogger logger;
    return logger;
}

std::string formatMessage(const char* format, va_list arguments) {
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0) return {};
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace

void VULLoggerRegisterVersion(const std::string& version) {
    SharedLogger& logger = sharedLogger();
    std::lock_guard lock(logger.mutex);
    logger.version = version;
}

void VULLoggerSetSink(VULLoggerSink sink) {
    SharedLogger& logger = sharedLogger();
    std::lock_guard lock(logger.mutex);
    logger.sink = std::move(sink);
}

bool VULLoggerIsValidMessageCode(const std::string& code) {
    if (code.size() != 11 || code.compare(0, 2, "I-") != 0) return false;
    for (std::size_t i = 2; i < 5; ++i) {
        if (code[i] < 'A' || code[i] > 'Z') return false;
    }
    for (std::size_t i = 5; i < 11; ++i) {
        if (code[i] < '0' || code[i] > '9') return false;
    }
    return true;
}

void VULLogBasic(VULLoggerLevel level, const std::string& subsystem, const std::string& category, bool forceLog,
                 const std::string& messageCode, const std::string& message) {
    // Every level is written on this platform, so forceLog changes nothing;
    // it stays in the signature because callers state it.
    (void)forceLog;
    if (!VULLoggerIsValidMessageCode(messageCode)) return;

    SharedLogger& logger = sharedLogger();
    VULLoggerSink sink;
    std::string line;
    {
        std::lock_guard lock(logger.mutex);
        sink = logger.sink;
        line = logger.version + " - " + category + "[" + messageCode + "] " + message;
    }
    // Outside the lock, so that a sink may itself log.
    if (sink) {
        sink(level, subsystem, line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

void VULLoggerLogWarning(const std::string& subsystem, const std::string& category, bool forceLog,
                         const std::string& messageCode, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string message = formatMessage(format, arguments);
    va_end(arguments);
    VULLogBasic(VULLoggerLevel::Warning, subsystem, category, forceLog, messageCode, message);
}

void VULLoggerResetForTesting() {
    SharedLogger& logger = sharedLogger();
    std::lock_guard lock(logger.mutex);
    logger.version.clear();
    logger.sink = nullptr;
}
