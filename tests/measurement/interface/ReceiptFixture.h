#pragma once
// Hand-made store receipts: the DER layout of a real receipt (attribute
// sequences holding octet strings), built field by field.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace receipt_fixture {

using Bytes = std::vector<std::uint8_t>;

inline Bytes tlv(std::uint8_t tag, const Bytes& body) {
    Bytes out{tag};
    const auto n = body.size();
    if (n < 128) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else if (n < 256) {
        out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF)});
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// One record field of type 0x06<low>, its value wrapped in `tag`.
inline Bytes field(std::uint8_t low, std::uint8_t tag, const Bytes& value) {
    return tlv(0x30, concat({{0x02, 0x02, 0x06, low, 0x02, 0x01, 0x01}, tlv(0x04, tlv(tag, value))}));
}
inline Bytes utf8Field(std::uint8_t low, const std::string& value) { return field(low, 0x0C, text(value)); }
inline Bytes ia5Field(std::uint8_t low, const std::string& value) { return field(low, 0x16, text(value)); }
inline Bytes intField(std::uint8_t low, Bytes value) { return field(low, 0x02, value); }

inline Bytes record(std::initializer_list<Bytes> fields) {
    return tlv(0x30, concat({{0x02, 0x01, 0x11, 0x02, 0x01, 0x01}, tlv(0x04, tlv(0x31, concat(fields)))}));
}

inline Bytes originalVersion(const std::string& version) {
    return tlv(0x30, concat({{0x02, 0x01, 0x13, 0x02, 0x01, 0x01}, tlv(0x04, tlv(0x0C, text(version)))}));
}

struct Purchase {
    std::string productID;
    std::string transactionID;
    std::string originalTransactionID;
    int type = 1;
    std::string purchaseDate = "2024-03-01T10:00:00Z";
    std::uint64_t webOrderLineItemID = 0;
    bool freeTrial = false;
    bool introductoryOffer = false;
};

inline Bytes record(const Purchase& p) {
    Bytes fields = concat({utf8Field(0xA6, p.productID), utf8Field(0xA7, p.transactionID),
                           utf8Field(0xA9, p.originalTransactionID),
                           intField(0xAB, {static_cast<std::uint8_t>(p.type)}), ia5Field(0xA8, p.purchaseDate),
                           intField(0xB1, {static_cast<std::uint8_t>(p.freeTrial)}),
                           intField(0xB7, {static_cast<std::uint8_t>(p.introductoryOffer)})});
    if (p.webOrderLineItemID != 0) {
        Bytes id;
        for (int shift = 56; shift >= 0; shift -= 8) id.push_back(static_cast<std::uint8_t>(p.webOrderLineItemID >> shift));
        fields = concat({fields, intField(0xAF, id)});
    }
    return tlv(0x30, concat({{0x02, 0x01, 0x11, 0x02, 0x01, 0x01}, tlv(0x04, tlv(0x31, fields))}));
}

inline Bytes receipt(std::initializer_list<Purchase> purchases, const std::string& version = "1.2") {
    Bytes body = originalVersion(version);
    for (const auto& purchase : purchases) body = concat({body, record(purchase)});
    return tlv(0x31, body);
}

}  // namespace receipt_fixture
