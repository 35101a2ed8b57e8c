#pragma once
// A configuration error raised by the Veredoda libraries: a name (for the
// core, "com.veredoda.core") and a reason for the developer.

#include <stdexcept>
#include <string>

inline constexpr const char* kVRDCoreErrorDomain = "com.veredoda.core";

class VRDException : public std::runtime_error {
public:
    VRDException(std::string name, std::string reason)
        : std::runtime_error(name + ": " + reason), name_(std::move(name)), reason_(std::move(reason)) {}

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }

private:
    std::string name_;
    std::string reason_;
};
