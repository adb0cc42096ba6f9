#pragma once

#include <cstdint>

namespace kv::codecs {

// G.711 encoder (A-law and mu-law), one code byte per 16-bit sample.
// Stateless: one instance may serve any number of streams.
class CG711Codec {
public:
    CG711Codec() = default;
    virtual ~CG711Codec() = default;

    // samples: byteCount bytes of native-order int16 samples; byteCount must be
    // even and positive. Writes byteCount / 2 codes to output, stores that count
    // in *outCount and returns it. Any invalid argument (null pointer, odd or
    // non-positive count) returns -1 and writes nothing, *outCount included.
    int32_t encodeALaw(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) const;
    int32_t encodeMuLaw(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) const;

    // The block calls without their checks, for callers that hold n >= 1
    // samples and room for n codes.
    static void encodeALawSamples(const int16_t* samples, int32_t n, uint8_t* output);
    static void encodeMuLawSamples(const int16_t* samples, int32_t n, uint8_t* output);

    // Expansion: n >= 0 codes to n samples.
    static void decodeALawSamples(const uint8_t* codes, int32_t n, int16_t* samples);
    static void decodeMuLawSamples(const uint8_t* codes, int32_t n, int16_t* samples);

    // The laws sample by sample: the block calls' tables are made from
    // these at compile time, and tests hold every path to them.
    static constexpr uint8_t linearToALaw(int16_t sample);
    static constexpr uint8_t linearToMuLaw(int16_t sample);

    static constexpr int16_t ALAW_SEG_END[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    static constexpr int16_t ULAW_SEG_END[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};

private:
    // Index of the first segment whose end is at or above v, or 8 when none is.
    static constexpr int findSegment(int v, const int16_t (&segEnd)[8]) {
        for (int i = 0; i < 8; ++i) {
            if (v <= segEnd[i]) return i;
        }
        return 8;
    }
};

constexpr uint8_t CG711Codec::linearToALaw(int16_t sample) {
    int v = sample >> 3;
    int mask;
    if (v >= 0) {
        mask = 0xD5;
    } else {
        // A-law is symmetric under one's complement, so -1 lands on magnitude 0.
        mask = 0x55;
        v = -v - 1;
    }
    const int seg = findSegment(v, ALAW_SEG_END);
    if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    // Segments 0 and 1 share the same step size.
    const int mantissa = seg < 2 ? (v >> 1) & 0x0F : (v >> seg) & 0x0F;
    return static_cast<uint8_t>(((seg << 4) | mantissa) ^ mask);
}

constexpr uint8_t CG711Codec::linearToMuLaw(int16_t sample) {
    int v = sample >> 2;
    int mask;
    if (v < 0) {
        v = -v;
        mask = 0x7F;
    } else {
        mask = 0xFF;
    }
    if (v > 8159) v = 8159;
    // The bias makes every segment boundary a power of two.
    v += 33;
    const int seg = findSegment(v, ULAW_SEG_END);
    if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>(((seg << 4) | ((v >> (seg + 1)) & 0x0F)) ^ mask);
}

}  // namespace kv::codecs
