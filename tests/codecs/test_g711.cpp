#include "codecs/G711Codec.h"
#include "codecs/G711Paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Independent G.711 expansion: the reconstruction value of a code and half the
// width of the quantisation step around it, in the code's own linear units
// (13-bit samples for A-law, 14-bit for mu-law).
struct Expanded {
    bool negative;
    int magnitude;
    int halfStep;
    bool top;  // last interval of its sign: takes any larger magnitude (overload)
};

Expanded expandALaw(uint8_t code) {
    const int a = code ^ 0x55;  // even bits are inverted on the line
    const int exponent = (a >> 4) & 7;
    const int mantissa = a & 0x0F;
    Expanded e{};
    e.negative = (a & 0x80) == 0;
    if (exponent == 0) {
        e.magnitude = 2 * mantissa + 1;
        e.halfStep = 1;
    } else {
        e.magnitude = (2 * mantissa + 33) << (exponent - 1);
        e.halfStep = 1 << (exponent - 1);
    }
    e.top = exponent == 7 && mantissa == 15;
    return e;
}

Expanded expandMuLaw(uint8_t code) {
    const int u = ~code & 0xFF;  // all bits are inverted on the line
    const int exponent = (u >> 4) & 7;
    const int mantissa = u & 0x0F;
    Expanded e{};
    e.negative = (u & 0x80) != 0;
    e.magnitude = ((2 * mantissa + 33) << exponent) - 33;
    e.halfStep = 1 << exponent;
    e.top = exponent == 7 && mantissa == 15;
    return e;
}

int signedValue(const Expanded& e) { return e.negative ? -e.magnitude : e.magnitude; }

TEST(G711, SampleTable) {
    struct Row {
        int16_t in;
        uint8_t alaw;
        uint8_t ulaw;
    };
    const Row rows[] = {
        {0, 0xD5, 0xFF},
        {-1, 0x55, 0x7E},
        {7, 0xD5, 0xFE},
        {-9, 0x55, 0x7D},
        {100, 0xD3, 0xF2},
        {-100, 0x53, 0x72},
        {1000, 0xFA, 0xCE},
        {-1000, 0x7A, 0x4E},
        {4000, 0x9A, 0xAF},
        {32767, 0xAA, 0x80},
        {-32768, 0x2A, 0x00},
        // mu-law clip: shifted magnitudes above 8159 all end on the top code
        {32636, 0xAA, 0x80},
        {-32640, 0x2A, 0x00},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.in);
        EXPECT_EQ(kv::codecs::CG711Codec::linearToALaw(r.in), r.alaw);
        EXPECT_EQ(kv::codecs::CG711Codec::linearToMuLaw(r.in), r.ulaw);
    }
}

// A-law: the 13-bit sample x >> 3 lies in the interval of its code's
// reconstruction value (both signs: [y - h, y + h - 1]).
TEST(G711, ALawEveryInputInItsCodesInterval) {
    std::array<bool, 256> seen{};
    int previous = -1 << 20;
    for (int x = -32768; x <= 32767; ++x) {
        const uint8_t code = kv::codecs::CG711Codec::linearToALaw(static_cast<int16_t>(x));
        seen[code] = true;
        const Expanded e = expandALaw(code);
        const int y = signedValue(e);
        const int x13 = x >> 3;
        ASSERT_GE(x13, y - e.halfStep) << "x=" << x << " code=" << int(code);
        ASSERT_LE(x13, y + e.halfStep - 1) << "x=" << x << " code=" << int(code);
        ASSERT_GE(y, previous) << "not monotone at x=" << x;
        previous = y;
    }
    for (int c = 0; c < 256; ++c) EXPECT_TRUE(seen[c]) << "A-law code never produced: " << c;
}

// mu-law works in sign and magnitude: the 14-bit sample q = x >> 2 has the
// code's sign and a magnitude inside the code's interval, or beyond the top
// interval when the input overloads.
TEST(G711, MuLawEveryInputInItsCodesInterval) {
    std::array<bool, 256> seen{};
    int previous = -1 << 20;
    for (int x = -32768; x <= 32767; ++x) {
        const uint8_t code = kv::codecs::CG711Codec::linearToMuLaw(static_cast<int16_t>(x));
        seen[code] = true;
        const Expanded e = expandMuLaw(code);
        const int q = x >> 2;
        const int mag = q < 0 ? -q : q;
        ASSERT_EQ(e.negative, q < 0) << "x=" << x << " code=" << int(code);
        ASSERT_GE(mag, e.magnitude - e.halfStep) << "x=" << x << " code=" << int(code);
        if (!e.top) {
            ASSERT_LE(mag, e.magnitude + e.halfStep - 1) << "x=" << x << " code=" << int(code);
        }
        const int y = signedValue(e);
        ASSERT_GE(y, previous) << "not monotone at x=" << x;
        previous = y;
    }
    // Negation maps every negative input to a magnitude of at least 1, so the
    // negative-zero code is the only one never produced.
    for (int c = 0; c < 256; ++c) EXPECT_EQ(seen[c], c != 0x7F) << "mu-law code " << c;
}

// The decoded value is the centre of the set of inputs giving each code.
TEST(G711, ALawReconstructionIsIntervalCentre) {
    std::array<int, 256> lo;
    std::array<int, 256> hi;
    lo.fill(1 << 20);
    hi.fill(-(1 << 20));
    for (int x = -32768; x <= 32767; ++x) {
        const uint8_t c = kv::codecs::CG711Codec::linearToALaw(static_cast<int16_t>(x));
        lo[c] = x < lo[c] ? x : lo[c];
        hi[c] = x > hi[c] ? x : hi[c];
    }
    for (int c = 0; c < 256; ++c) {
        const Expanded e = expandALaw(static_cast<uint8_t>(c));
        SCOPED_TRACE(c);
        EXPECT_EQ(hi[c] - lo[c] + 1, 16 * e.halfStep);
        EXPECT_EQ((lo[c] + hi[c] + 1) / 2, 8 * signedValue(e));
    }
}

using BlockFn = int32_t (kv::codecs::CG711Codec::*)(const int16_t*, int32_t, uint8_t*, int32_t*) const;
using SampleFn = uint8_t (*)(int16_t);

struct Law {
    const char* name;
    BlockFn block;
    SampleFn sample;
    kv::codecs::g711::Law id;
};

const Law kLaws[] = {
    {"A-law", &kv::codecs::CG711Codec::encodeALaw, &kv::codecs::CG711Codec::linearToALaw, kv::codecs::g711::Law::A},
    {"mu-law", &kv::codecs::CG711Codec::encodeMuLaw, &kv::codecs::CG711Codec::linearToMuLaw, kv::codecs::g711::Law::Mu},
};

// The block call, and each instruction-set path by name, against the per-sample law.
TEST(G711, BlockCallsMatchPerSampleFunction) {
    using kv::codecs::g711::Path;
    std::vector<int16_t> all(65536);
    for (int i = 0; i < 65536; ++i) all[i] = static_cast<int16_t>(i - 32768);
    const kv::codecs::CG711Codec codec;
    for (const Law& law : kLaws) {
        for (const char* way : {"block call", "table", "avx2"}) {
            const std::string name = way;
            if (name == "avx2" && !kv::codecs::g711::available(Path::Avx2)) continue;
            SCOPED_TRACE(std::string(law.name) + ", " + name);
            // A 160-sample block as the encoder objects use it, every input at
            // once, and counts that are no multiple of any path's step, unaligned.
            struct Block {
                int32_t offset;
                int32_t samples;
            };
            for (const Block blk : {Block{1000, 160}, Block{0, 65536}, Block{33001, 13}, Block{5, 61}}) {
                const int32_t samples = blk.samples;
                const int16_t* src = all.data() + blk.offset;
                std::vector<uint8_t> out(samples + 1, 0xA5);
                if (name == "block call") {
                    int32_t outCount = -7;
                    ASSERT_EQ((codec.*law.block)(src, samples * 2, out.data(), &outCount), samples);
                    EXPECT_EQ(outCount, samples);
                } else {
                    kv::codecs::g711::encode(name == "avx2" ? Path::Avx2 : Path::Table, law.id, src, samples,
                                             out.data());
                }
                for (int32_t i = 0; i < samples; ++i) ASSERT_EQ(out[i], law.sample(src[i])) << "i=" << i;
                EXPECT_EQ(out[samples], 0xA5) << "wrote past the block";
            }
        }
    }
}

TEST(G711, BlockCallRefusals) {
    const int16_t pcm[200] = {1000, -1000, 7};
    uint8_t out[200];
    const kv::codecs::CG711Codec codec;
    struct Case {
        const char* what;
        const int16_t* samples;
        int32_t byteCount;
        bool nullOutput;
        bool nullCount;
    };
    const Case cases[] = {
        {"odd count", pcm, 321, false, false},        {"zero count", pcm, 0, false, false},
        {"negative count", pcm, -2, false, false},    {"odd count 1", pcm, 1, false, false},
        {"null samples", nullptr, 320, false, false}, {"null output", pcm, 320, true, false},
        {"null out count", pcm, 320, false, true},
    };
    for (const Law& law : kLaws) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(law.name) + ": " + c.what);
            std::fill(std::begin(out), std::end(out), uint8_t{0x5A});
            int32_t outCount = 12345;
            const int32_t r = (codec.*law.block)(c.samples, c.byteCount, c.nullOutput ? nullptr : out,
                                                 c.nullCount ? nullptr : &outCount);
            EXPECT_EQ(r, -1);
            EXPECT_EQ(outCount, 12345);
            for (uint8_t b : out) ASSERT_EQ(b, 0x5A);
        }
    }
}

}  // namespace
