#pragma once
// The shared logger of the Veredoda libraries. Each line reads
//   "<version> - <category>[<message code>] <message>"
// where the version is the one registered by the core library and the message
// code is "I-", three capital letters and six digits (for example
// "I-COR000003"). A line whose code does not have that form is a programming
// error and is not written. Lines go to standard error unless a sink is set.
// Thread-safe.

#include <functional>
#include <string>

enum class VULLoggerLevel { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// Receives every written line (without a trailing newline).
using VULLoggerSink = std::function<void(VULLoggerLevel level, const std::string& subsystem, const std::string& line)>;

// The version shown at the start of every line.
void VULLoggerRegisterVersion(const std::string& version);

// Routes lines to `sink`; an empty function restores standard error.
void VULLoggerSetSink(VULLoggerSink sink);

// True when `code` is "I-", three capital ASCII letters and six digits.
bool VULLoggerIsValidMessageCode(const std::string& code);

// Writes one line. `subsystem` names the library (a reverse-DNS string);
// `category` is the bracketed service name shown in the line. `forceLog`
// marks lines that must be written whatever the logging configuration.
void VULLogBasic(VULLoggerLevel level, const std::string& subsystem, const std::string& category, bool forceLog,
                 const std::string& messageCode, const std::string& message);

// printf-style warning through VULLogBasic.
void VULLoggerLogWarning(const std::string& subsystem, const std::string& category, bool forceLog,
                         const std::string& messageCode, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

// Test hook: forgets the registered version and the sink.
void VULLoggerResetForTesting();
