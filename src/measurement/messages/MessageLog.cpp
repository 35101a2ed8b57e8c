#include "measurement/messages/MessageLog.h"

#include <cstdarg>
#include <cstdio>

namespace measurement::messages {

void printRuntimeText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void logSystemLine(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

}  // namespace measurement::messages
