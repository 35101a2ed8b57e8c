// nanopb checks the wire type of the fields it stores itself, but hands
// strings, bytes, repeated fields and their elements to callbacks without
// saying how they arrived. This scan runs before decoding and refuses a known
// tag with a wire type its field cannot have, at every level that nanopb
// decodes inline (the message and its single sub-messages); the elements of
// repeated messages are checked when they are decoded themselves.
#include "measurement/messages/MessageInfo.h"
#include "measurement/messages/WireBinding.h"

namespace measurement::messages {

namespace {

pb_wire_type_t wireTypeOf(std::uint32_t flags) {
    if (flags & (FieldFlag::StringOrBytes | FieldFlag::Message)) {
        return PB_WT_STRING;
    }
    if (flags & FieldFlag::Float) {
        return PB_WT_32BIT;
    }
    if (flags & FieldFlag::Double) {
        return PB_WT_64BIT;
    }
    return PB_WT_VARINT;
}

bool accepts(std::uint32_t flags, pb_wire_type_t wireType) {
    if (wireType == wireTypeOf(flags)) {
        return true;
    }
    const bool repeatedNumber = (flags & FieldFlag::Repeated) && (flags & FieldFlag::Numbers);
    return repeatedNumber && wireType == PB_WT_STRING;  // a packed block
}

bool isSingleMessage(std::uint32_t flags) {
    return (flags & FieldFlag::Message) && !(flags & FieldFlag::Repeated);
}

}  // namespace

bool checkWireTypes(const MessageType& type, pb_istream_t* stream) {
    while (stream->bytes_left > 0) {
        pb_wire_type_t wireType;
        std::uint32_t tag;
        bool endOfStream;
        if (!pb_decode_tag(stream, &wireType, &tag, &endOfStream)) {
            return endOfStream;  // a zero tag ends a message, as nanopb reads it
        }
        const SlotInfo* slot = type.slotForTag(tag);
        if (slot != nullptr && !accepts(slot->flags, wireType)) {
            PB_RETURN_ERROR(stream, "wrong wire type");
        }
        if (slot != nullptr && isSingleMessage(slot->flags)) {
            pb_istream_t substream;
            if (!pb_make_string_substream(stream, &substream)) {
                return false;
            }
            const bool valid = checkWireTypes(*slot->message, &substream);
            if (!valid) {
                stream->errmsg = substream.errmsg;
                return false;
            }
            if (!pb_close_string_substream(stream, &substream)) {
                return false;
            }
        } else if (!pb_skip_field(stream, wireType)) {
            return false;
        }
    }
    return true;
}

}  // namespace measurement::messages
