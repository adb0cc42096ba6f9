#include "codecs/G711Codec.h"

#include <array>

namespace kv::codecs {

namespace {

// Every 16-bit sample's code, indexed by the sample's bit pattern: one load
// per sample instead of a segment search. Built by the per-sample function
// itself, so it is exact for all 65 536 inputs.
using CodeTable = std::array<uint8_t, 65536>;

template <uint8_t (*Law)(int16_t)>
constexpr CodeTable makeTable() {
    CodeTable t{};
    for (unsigned i = 0; i < t.size(); ++i) t[i] = Law(static_cast<int16_t>(static_cast<uint16_t>(i)));
    return t;
}

constexpr CodeTable kALawCodes = makeTable<&CG711Codec::linearToALaw>();
constexpr CodeTable kMuLawCodes = makeTable<&CG711Codec::linearToMuLaw>();

int32_t encodeBlock(const CodeTable& codes, const int16_t* samples, int32_t byteCount, uint8_t* output,
                    int32_t* outCount) {
    // outCount is checked with the others: a refusal must leave no write behind.
    if (samples == nullptr || output == nullptr || outCount == nullptr || byteCount <= 0 || (byteCount & 1) != 0)
        return -1;
    const int32_t n = byteCount / 2;
    // Sixteen at a time: the loop's own counting then costs little beside
    // the three instructions a sample needs (load, look up, store).
    const int16_t* in = samples;
    uint8_t* out = output;
    for (const int16_t* const end = samples + (n & ~15); in != end; in += 16, out += 16) {
        for (int k = 0; k < 16; ++k) out[k] = codes[static_cast<uint16_t>(in[k])];
    }
    for (; in != samples + n; ++in, ++out) *out = codes[static_cast<uint16_t>(*in)];
    *outCount = n;
    return n;
}

}  // namespace

int32_t CG711Codec::encodeALaw(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) const {
    return encodeBlock(kALawCodes, samples, byteCount, output, outCount);
}

int32_t CG711Codec::encodeMuLaw(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) const {
    return encodeBlock(kMuLawCodes, samples, byteCount, output, outCount);
}

}  // namespace kv::codecs
