#include "codecs/G711Codec.h"

namespace kv::codecs {

namespace {

// Index of the first segment whose end is at or above v, or 8 when none is.
int findSegment(int v, const int16_t (&segEnd)[8]) {
    for (int i = 0; i < 8; ++i) {
        if (v <= segEnd[i]) return i;
    }
    return 8;
}

template <uint8_t (*Encode)(int16_t)>
int32_t encodeBlock(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) {
    // outCount is checked with the others: a refusal must leave no write behind.
    if (samples == nullptr || output == nullptr || outCount == nullptr || byteCount <= 0 || (byteCount & 1) != 0)
        return -1;
    const int32_t n = byteCount / 2;
    for (int32_t i = 0; i < n; ++i) output[i] = Encode(samples[i]);
    *outCount = n;
    return n;
}

}  // namespace

uint8_t CG711Codec::linearToALaw(int16_t sample) {
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

uint8_t CG711Codec::linearToMuLaw(int16_t sample) {
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

int32_t CG711Codec::encodeALaw(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) const {
    return encodeBlock<&CG711Codec::linearToALaw>(samples, byteCount, output, outCount);
}

int32_t CG711Codec::encodeMuLaw(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) const {
    return encodeBlock<&CG711Codec::linearToMuLaw>(samples, byteCount, output, outCount);
}

}  // namespace kv::codecs
