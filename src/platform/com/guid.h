#pragma once
// GUID: the platform's 128-bit identifier, with its registry text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and its 16-byte binary layout
// (Data1, Data2 and Data3 little-endian, Data4 as bytes).

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ronvix::com {

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    std::array<uint8_t, 8> Data4{};

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
    friend constexpr auto operator<=>(const GUID&, const GUID&) = default;

    // Parses the registry form (braces required, hex digits in any case).
    // Returns nothing for any other text: the caller decides what a bad
    // identifier means.
    static std::optional<GUID> Parse(std::string_view text) noexcept;

    // Registry form with upper-case hex digits and braces.
    std::string ToString() const;

    // The 16-byte binary layout used in stored blocks and streams.
    std::array<uint8_t, 16> ToBytes() const noexcept;
    // Reads the binary layout; `bytes` must hold at least 16 bytes.
    static std::optional<GUID> FromBytes(std::span<const uint8_t> bytes) noexcept;
};

using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;
using REFGUID = const GUID&;

inline constexpr GUID GUID_NULL{};
inline constexpr GUID IID_NULL{};
inline constexpr GUID CLSID_NULL{};

namespace detail {
constexpr int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Parses the registry form at compile time or run time. `ok` says whether
// the text was well formed; the result is GUID_NULL when it was not.
constexpr GUID ParseGuid(std::string_view s, bool& ok) {
    ok = false;
    if (s.size() != 38 || s[0] != '{' || s[37] != '}' || s[9] != '-' || s[14] != '-' ||
        s[19] != '-' || s[24] != '-')
        return GUID{};
    auto hex = [&](size_t pos, size_t count, uint64_t& out) {
        out = 0;
        for (size_t i = 0; i < count; ++i) {
            int v = HexValue(s[pos + i]);
            if (v < 0)
                return false;
            out = (out << 4) | static_cast<uint64_t>(v);
        }
        return true;
    };
    GUID g{};
    uint64_t v = 0;
    if (!hex(1, 8, v))
        return GUID{};
    g.Data1 = static_cast<uint32_t>(v);
    if (!hex(10, 4, v))
        return GUID{};
    g.Data2 = static_cast<uint16_t>(v);
    if (!hex(15, 4, v))
        return GUID{};
    g.Data3 = static_cast<uint16_t>(v);
    if (!hex(20, 2, v))
        return GUID{};
    g.Data4[0] = static_cast<uint8_t>(v);
    if (!hex(22, 2, v))
        return GUID{};
    g.Data4[1] = static_cast<uint8_t>(v);
    for (size_t i = 0; i < 6; ++i) {
        if (!hex(25 + 2 * i, 2, v))
            return GUID{};
        g.Data4[2 + i] = static_cast<uint8_t>(v);
    }
    ok = true;
    return g;
}

// Compile-time checked literal; a malformed literal does not compile.
consteval GUID GuidLiteral(std::string_view s) {
    bool ok = false;
    GUID g = ParseGuid(s, ok);
    if (!ok)
        throw "malformed GUID literal";
    return g;
}
}  // namespace detail

}  // namespace ronvix::com

// Usage: inline constexpr GUID CLSID_Foo = RONVIX_GUID("{...}");
#define RONVIX_GUID(text) (::ronvix::com::detail::GuidLiteral(text))

template <>
struct std::hash<ronvix::com::GUID> {
    size_t operator()(const ronvix::com::GUID& g) const noexcept {
        uint64_t a = (uint64_t{g.Data1} << 32) | (uint64_t{g.Data2} << 16) | g.Data3;
        uint64_t b = 0;
        for (uint8_t x : g.Data4)
            b = (b << 8) | x;
        return std::hash<uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
    }
};
