// G.711 written out from the law's segments, kept apart from the codec under
// test: A-law codes 13-bit samples, negatives by their ones' complement;
// mu-law codes 14-bit samples by magnitude, biased by 33 and clipped at 8159
// (the clipped top value falls past the last segment and takes the code of
// the largest magnitude).
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

namespace kvtest {

inline std::uint8_t alawReference(std::int16_t x) {
    const int v = x >> 3;
    const bool positive = v >= 0;
    const unsigned m = positive ? static_cast<unsigned>(v) : static_cast<unsigned>(~v);  // 0..4095
    // Segment e >= 1 holds magnitudes [16 << e, 32 << e); segment 0 the first 32.
    const int e = m < 32 ? 0 : std::bit_width(m) - 5;
    const unsigned step = e == 0 ? 1 : static_cast<unsigned>(e);
    const unsigned code = static_cast<unsigned>(e) << 4 | ((m >> step) & 15);
    return static_cast<std::uint8_t>((positive ? code | 0x80 : code) ^ 0x55);
}

inline std::uint8_t ulawReference(std::int16_t x) {
    const int v = x >> 2;
    const bool negative = v < 0;
    const unsigned m = static_cast<unsigned>(std::min(negative ? -v : v, 8159)) + 33;  // 33..8192
    const std::uint8_t mask = negative ? 0x7F : 0xFF;
    if (m > 0x1FFF) return static_cast<std::uint8_t>(0x7F ^ mask);
    // Segment e holds biased magnitudes [32 << e, 64 << e).
    const int e = std::bit_width(m) - 6;
    const unsigned code = static_cast<unsigned>(e) << 4 | ((m >> (e + 1)) & 15);
    return static_cast<std::uint8_t>(code ^ mask);
}

}  // namespace kvtest
