#pragma once

// Decoding half of G.722: 64/56/48 kbit/s code words, one per byte, to 16 kHz
// through the receive QMF, or the low band alone to 8 kHz (the Quorvan stream).

#include "codecs/G722Codec.h"

#include <cstdint>

namespace kv::codecs {

// Where a code word of fewer than 8 bits sits in its byte.
enum class G722Alignment {
    Right,  // our encoder's: the code is the byte's low bits
    Left,   // what other software writes: the code is the byte's high bits
};

class CG722Decoder {
public:
    // A fresh 64 kbit/s, right-aligned, 16 kHz stream.
    CG722Decoder() { reset(8, G722Alignment::Right, false); }

    // bitsPerCode 8, 7 or 6. lowBandOnly gives one 8 kHz sample per code
    // word, otherwise two 16 kHz samples. Starts a fresh stream.
    void reset(int bitsPerCode, G722Alignment alignment, bool lowBandOnly);

    int samplesPerCode() const { return m_lowBandOnly ? 1 : 2; }

    // Decodes count code bytes into out, which has room for
    // count * samplesPerCode() samples; returns the samples written.
    int decode(const std::uint8_t* codes, int count, std::int16_t* out);

private:
    int m_bitsPerCode = 8;
    G722Alignment m_alignment = G722Alignment::Right;
    bool m_lowBandOnly = false;
    G722BandState m_low{};
    G722BandState m_high{};
    std::int32_t m_qmf[24] = {};  // receive QMF history, oldest first
};

}  // namespace kv::codecs
