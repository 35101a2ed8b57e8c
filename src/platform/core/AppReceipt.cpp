#include "platform/core/AppReceipt.h"

namespace platform {

InMemoryAppReceipt::InMemoryAppReceipt(std::vector<std::uint8_t> bytes, bool sandbox)
    : bytes_(std::move(bytes)), sandbox_(sandbox) {}

void InMemoryAppReceipt::setReceipt(std::optional<std::vector<std::uint8_t>> bytes, bool sandbox) {
    std::lock_guard lock(mutex_);
    bytes_ = std::move(bytes);
    sandbox_ = sandbox;
}

std::optional<std::vector<std::uint8_t>> InMemoryAppReceipt::receiptData() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

bool InMemoryAppReceipt::isSandboxReceipt() const {
    std::lock_guard lock(mutex_);
    return sandbox_;
}

}  // namespace platform
