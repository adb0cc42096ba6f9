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

    static uint8_t linearToALaw(int16_t sample);
    static uint8_t linearToMuLaw(int16_t sample);

    static constexpr int16_t ALAW_SEG_END[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    static constexpr int16_t ULAW_SEG_END[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
};

}  // namespace kv::codecs
