#include "measurement/storage/APMStoredMessageCodec.h"

#include <mutex>

namespace {

std::mutex& codecMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const APMStoredMessageCodec>& codecSlot() {
    static std::shared_ptr<const APMStoredMessageCodec> codec;
    return codec;
}

}  // namespace

std::shared_ptr<const APMStoredMessageCodec> APMStoredMessageCodec::installed() {
    std::lock_guard lock(codecMutex());
    return codecSlot();
}

void APMStoredMessageCodec::install(std::shared_ptr<const APMStoredMessageCodec> codec) {
    std::lock_guard lock(codecMutex());
    codecSlot() = std::move(codec);
}
