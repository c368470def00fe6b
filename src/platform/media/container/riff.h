#pragma once
// The little pieces of RIFF that the container writer and the repair share:
// four-character codes and little-endian reads.

#include <cstdint>
#include <cstring>

namespace ronvix::media::riff {

constexpr uint32_t Fcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

inline uint32_t U32(const uint8_t* p) {
    uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint16_t U16(const uint8_t* p) {
    uint16_t v = 0;
    std::memcpy(&v, p, 2);
    return v;
}

// Chunk ids of stream `n`: "NNdc" and its kind, and its standard index
// "ixNN".
inline uint32_t StreamFcc(int n, const char (&type)[3]) {
    const char id[5] = {char('0' + n / 10), char('0' + n % 10), type[0], type[1], 0};
    return Fcc(id);
}
inline uint32_t IndexFcc(int n) {
    const char id[5] = {'i', 'x', char('0' + n / 10), char('0' + n % 10), 0};
    return Fcc(id);
}

}  // namespace ronvix::media::riff
