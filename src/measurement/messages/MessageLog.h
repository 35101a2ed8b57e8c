#pragma once
// The two places the message layer writes to. The message runtime prints its
// "<ERROR>" texts to standard output exactly as formatted (the caller supplies
// any newline); the typed field functions log one line each to the system log,
// which on this platform is standard error.

namespace measurement::messages {

void printRuntimeText(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logSystemLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace measurement::messages
