// Fuzz target: arbitrary bytes decoded as every message of the schema. What
// decodes must encode, and its encoding must decode and encode to the same
// bytes again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageTypes.h"

using namespace measurement::messages;

namespace {

struct Encoding {
    std::uint8_t* bytes = nullptr;
    std::uint32_t length = kEncodeFailed;
    ~Encoding() { std::free(bytes); }
};

void encode(const MessageType& type, const MessageInfo* info, Encoding& encoding) {
    encoding.length = APMMessageInfoEncodeToBuffer(type, info, &encoding.bytes);
    if (encoding.length == kEncodeFailed) {
        std::fprintf(stderr, "%s: a decoded message did not encode\n", type.name);
        std::abort();
    }
}

void checkMessage(const MessageType& type, const std::uint8_t* data, std::size_t size) {
    MessageInfo* decoded = newMessageInfo(type);
    if (decoded == nullptr) {
        return;
    }
    if (APMMessageInfoDecode(type, data, size, decoded)) {
        Encoding first;
        encode(type, decoded, first);
        MessageInfo* again = newMessageInfo(type);
        if (!APMMessageInfoDecode(type, first.bytes, first.length, again)) {
            std::fprintf(stderr, "%s: an encoding did not decode\n", type.name);
            std::abort();
        }
        Encoding second;
        encode(type, again, second);
        if (second.length != first.length || std::memcmp(first.bytes, second.bytes, first.length) != 0) {
            std::fprintf(stderr, "%s: re-encoding changed the bytes\n", type.name);
            std::abort();
        }
        (void)APMMessageInfoFree(type, again);  // cannot fail: not null
    }
    (void)APMMessageInfoFree(type, decoded);  // cannot fail: not null
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The runtime prints a line for every refused input; keep the fuzzer's output readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 0;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const MessageType* type : allMessageTypes()) {
        checkMessage(*type, data, size);
    }
    return 0;
}
