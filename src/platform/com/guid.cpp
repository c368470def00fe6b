#include "platform/com/guid.h"

#include <cstdio>

namespace ronvix::com {

std::optional<GUID> GUID::Parse(std::string_view text) noexcept {
    bool ok = false;
    GUID g = detail::ParseGuid(text, ok);
    if (!ok)
        return std::nullopt;
    return g;
}

std::string GUID::ToString() const {
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Data1,
                  Data2, Data3, Data4[0], Data4[1], Data4[2], Data4[3], Data4[4], Data4[5],
                  Data4[6], Data4[7]);
    return std::string(buf, 38);
}

std::array<uint8_t, 16> GUID::ToBytes() const noexcept {
    std::array<uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<uint8_t>(Data1 >> (8 * i));
    for (int i = 0; i < 2; ++i)
        b[4 + i] = static_cast<uint8_t>(Data2 >> (8 * i));
    for (int i = 0; i < 2; ++i)
        b[6 + i] = static_cast<uint8_t>(Data3 >> (8 * i));
    for (int i = 0; i < 8; ++i)
        b[8 + i] = Data4[i];
    return b;
}

std::optional<GUID> GUID::FromBytes(std::span<const uint8_t> b) noexcept {
    if (b.size() < 16)
        return std::nullopt;
    GUID g;
    g.Data1 = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
    g.Data2 = static_cast<uint16_t>(b[4] | b[5] << 8);
    g.Data3 = static_cast<uint16_t>(b[6] | b[7] << 8);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = b[8 + i];
    return g;
}

}  // namespace ronvix::com
