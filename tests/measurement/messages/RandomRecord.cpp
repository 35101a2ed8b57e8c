#include "RandomRecord.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageRuntime.h"

using namespace measurement::messages;

namespace {

constexpr int kMaxDepth = 4;

std::uint64_t randomBits(std::mt19937_64& random) {
    static constexpr int kWidths[] = {7, 14, 21, 28, 35, 64};
    const int width = kWidths[random() % 6];
    const std::uint64_t value = random();
    return width == 64 ? value : value & ((1ull << width) - 1);
}

void appendUtf8(std::string& text, char32_t codePoint) {
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        text += static_cast<char>(0xC0 | (codePoint >> 6));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += static_cast<char>(0xE0 | (codePoint >> 12));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (codePoint >> 18));
        text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

std::string randomText(std::mt19937_64& random) {
    static constexpr char32_t kBlocks[][2] = {{0x20, 0x7E}, {0xA0, 0x7FF}, {0x4E00, 0x9FFF}, {0x1F400, 0x1F4FF}};
    std::string text;
    for (std::uint64_t count = random() % 12; count > 0; --count) {
        const auto& block = kBlocks[random() % 4];
        appendUtf8(text, static_cast<char32_t>(block[0] + random() % (block[1] - block[0] + 1)));
    }
    return text;
}

float randomFloat(std::mt19937_64& random) {
    return std::uniform_real_distribution<float>(-1e6f, 1e6f)(random);
}

double randomDouble(std::mt19937_64& random) {
    return std::uniform_real_distribution<double>(-1e12, 1e12)(random);
}

// One value of the slot's element type into `destination`.
bool storeRandomValue(const SlotInfo& slot, void** destination, std::mt19937_64& random, int depth) {
    const std::uint32_t flags = slot.flags;
    if (flags & FieldFlag::Message) {
        *destination = randomRecord(*slot.message, random, depth + 1);
        return *destination != nullptr;
    }
    if (flags & FieldFlag::StringOrBytes) {
        const std::string text = randomText(random);
        return APMPBSetStringValue(destination, reinterpret_cast<const std::uint8_t*>(text.data()),
                                   static_cast<std::uint32_t>(text.size()));
    }
    if (flags & FieldFlag::Bool) return APMPBSetBoolValue(destination, random() % 2 == 1);
    if (flags & FieldFlag::Enum) return APMPBSetUInt32Value(destination, random() % 2);
    if (flags & (FieldFlag::Int32 | FieldFlag::UInt32)) {
        return APMPBSetUInt32Value(destination, static_cast<std::uint32_t>(randomBits(random)));
    }
    if (flags & (FieldFlag::Int64 | FieldFlag::UInt64)) return APMPBSetUInt64Value(destination, randomBits(random));
    if (flags & FieldFlag::Float) return APMPBSetFloatValue(destination, randomFloat(random));
    return APMPBSetDoubleValue(destination, randomDouble(random));
}

}  // namespace

MessageInfo* randomRecord(const MessageType& type, std::mt19937_64& random, int depth) {
    MessageInfo* info = newMessageInfo(type);
    for (std::uint32_t index = 0; info != nullptr && index < type.slotCount; ++index) {
        const SlotInfo& slot = type.slots[index];
        const bool tooDeep = (slot.flags & FieldFlag::Message) && depth >= kMaxDepth;
        if (random() % 10 < 4 || tooDeep) {
            continue;
        }
        if (!(slot.flags & FieldFlag::Repeated)) {
            storeRandomValue(slot, &info->fields[index], random, depth);
            continue;
        }
        auto* array = static_cast<RepeatedArray*>(info->fields[index]);
        const auto count = static_cast<std::uint32_t>(random() % 4);
        if (count == 0) continue;
        array->items = static_cast<void**>(std::calloc(count, sizeof(void*)));
        array->count = array->filled = count;
        for (std::uint32_t item = 0; item < count; ++item) {
            storeRandomValue(slot, &array->items[item], random, depth);
        }
    }
    return info;
}
