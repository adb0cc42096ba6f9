#include "codecs/G711Codec.h"

#include "codecs/G711Paths.h"

#include <array>

#if defined(__x86_64__) || defined(__i386__)
#define KV_G711_AVX2 1
#include <immintrin.h>
#endif

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

template <const CodeTable& Codes>
void encodeTable(const int16_t* in, int32_t n, uint8_t* out) {
    // Sixteen at a time: the loop's own counting then costs little beside
    // the three instructions a sample needs (load, look up, store).
    for (const int16_t* const end = in + (n & ~15); in != end; in += 16, out += 16) {
        for (int k = 0; k < 16; ++k) out[k] = Codes[static_cast<uint16_t>(in[k])];
    }
    for (const int16_t* const end = in + (n & 15); in != end; ++in, ++out) *out = Codes[static_cast<uint16_t>(*in)];
}

#ifdef KV_G711_AVX2
// Both laws are small floating-point formats: once the magnitude v is
// positive, converting it to float puts floor(log2 v) in the exponent and
// the four bits below the leading one at the top of the mantissa, so
// bits >> 19 is (exponent << 4 | step), the segment and step of the code
// plus a constant. The conversion is exact (v < 2^24). The packs and
// unpacks stay within 128-bit lanes, so the sample order comes back.
#define KV_AVX2 gnu::target("avx2"), gnu::always_inline
using V = __m256i;

[[KV_AVX2]] inline V exponentAndStep(V v) {
    const V zero = _mm256_setzero_si256();
    const V lo = _mm256_castps_si256(_mm256_cvtepi32_ps(_mm256_unpacklo_epi16(v, zero)));
    const V hi = _mm256_castps_si256(_mm256_cvtepi32_ps(_mm256_unpackhi_epi16(v, zero)));
    return _mm256_packs_epi32(_mm256_srli_epi32(lo, 19), _mm256_srli_epi32(hi, 19));
}

struct ALaw {
    [[KV_AVX2]] static V codes(V x) {
        const V negative = _mm256_srai_epi16(x, 15);
        // One's complement folds the negative half onto the same 0..4095.
        const V v = _mm256_xor_si256(_mm256_srai_epi16(x, 3), negative);
        // v >= 32: the segment is floor(log2 v) - 4, the step the 4 bits below the leading one.
        const V segmented = _mm256_sub_epi16(exponentAndStep(v), _mm256_set1_epi16((127 + 4) << 4));
        // Below 32 the first two segments share one step: the code is v / 2.
        const V small = _mm256_cmpgt_epi16(_mm256_set1_epi16(32), v);
        const V code = _mm256_blendv_epi8(segmented, _mm256_srli_epi16(v, 1), small);
        const V mask = _mm256_xor_si256(_mm256_set1_epi16(0xD5), _mm256_and_si256(negative, _mm256_set1_epi16(0x80)));
        return _mm256_xor_si256(code, mask);
    }
};

struct MuLaw {
    [[KV_AVX2]] static V codes(V x) {
        const V negative = _mm256_srai_epi16(x, 15);
        const V magnitude = _mm256_abs_epi16(_mm256_srai_epi16(x, 2));
        // With the bias the magnitude lies in 33..8192, segment floor(log2) - 5.
        const V v = _mm256_add_epi16(_mm256_min_epi16(magnitude, _mm256_set1_epi16(8159)), _mm256_set1_epi16(33));
        const V segmented = _mm256_sub_epi16(exponentAndStep(v), _mm256_set1_epi16((127 + 5) << 4));
        // 8192 is past the last segment: its code is the last one, 0x7F.
        const V code = _mm256_min_epi16(segmented, _mm256_set1_epi16(0x7F));
        const V mask = _mm256_xor_si256(_mm256_set1_epi16(0xFF), _mm256_and_si256(negative, _mm256_set1_epi16(0x80)));
        return _mm256_xor_si256(code, mask);
    }
};

[[KV_AVX2]] inline V load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }

// Small enough to stay in registers: 64-bit Windows compilers of the mingw
// line cannot realign the stack for a spilled 32-byte vector.
template <class Law, const CodeTable& Table>
[[gnu::target("avx2")]] void encodeAvx2(const int16_t* in, int32_t n, uint8_t* out) {
    int32_t i = 0;
    for (; n - i >= 32; i += 32) {
        // Packing interleaves the halves' 8-byte quarters; the permute puts them back in order.
        const V bytes = _mm256_packus_epi16(Law::codes(load(in + i)), Law::codes(load(in + i + 16)));
        _mm256_storeu_si256(reinterpret_cast<V*>(out + i), _mm256_permute4x64_epi64(bytes, 0xD8));
    }
    if (n - i >= 16) {
        const V codes = Law::codes(load(in + i));
        const V bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(codes, codes), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(bytes));
        i += 16;
    }
    if (i < n) encodeTable<Table>(in + i, n - i, out + i);
}
#undef KV_AVX2

bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

using EncodeFn = void (*)(const int16_t*, int32_t, uint8_t*);

struct LawPaths {
    EncodeFn table;
    EncodeFn avx2;  // null where the build has none
};

constexpr LawPaths pathsOf(g711::Law law) {
#ifdef KV_G711_AVX2
    if (law == g711::Law::A) return {&encodeTable<kALawCodes>, &encodeAvx2<ALaw, kALawCodes>};
    return {&encodeTable<kMuLawCodes>, &encodeAvx2<MuLaw, kMuLawCodes>};
#else
    if (law == g711::Law::A) return {&encodeTable<kALawCodes>, nullptr};
    return {&encodeTable<kMuLawCodes>, nullptr};
#endif
}

// The fastest path of each law. The table paths hold from the start, so a
// call before the choice below is made still codes right; the choice is made
// while the module loads, so the block calls read a plain pointer.
struct Chosen {
    EncodeFn aLaw = &encodeTable<kALawCodes>;
    EncodeFn muLaw = &encodeTable<kMuLawCodes>;
};
constinit Chosen g_chosen;
[[maybe_unused]] const bool g_chosenMade = [] {
    if (g711::available(g711::Path::Avx2)) g_chosen = {pathsOf(g711::Law::A).avx2, pathsOf(g711::Law::Mu).avx2};
    return true;
}();

// Expansion, by code byte.
constexpr int16_t aLawToLinear(uint8_t code) {
    const int b = code ^ 0x55;
    const int m = b & 0x0F;
    const int e = (b >> 4) & 7;
    const int t = e == 0 ? (m << 4) + 8 : ((m << 4) + 0x108) << (e - 1);
    return static_cast<int16_t>((b & 0x80) ? t : -t);
}

constexpr int16_t muLawToLinear(uint8_t code) {
    const int u = ~code & 0xFF;
    const int t = (((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7);
    return static_cast<int16_t>((u & 0x80) ? 0x84 - t : t - 0x84);
}

using SampleTable = std::array<int16_t, 256>;

template <int16_t (*Law)(uint8_t)>
constexpr SampleTable makeSamples() {
    SampleTable t{};
    for (unsigned i = 0; i < t.size(); ++i) t[i] = Law(static_cast<uint8_t>(i));
    return t;
}

constexpr SampleTable kALawSamples = makeSamples<&aLawToLinear>();
constexpr SampleTable kMuLawSamples = makeSamples<&muLawToLinear>();

int32_t encodeBlock(EncodeFn encode, const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) {
    // outCount is checked with the others: a refusal must leave no write behind.
    if (samples == nullptr || output == nullptr || outCount == nullptr || byteCount <= 0 || (byteCount & 1) != 0)
        return -1;
    const int32_t n = byteCount / 2;
    encode(samples, n, output);
    *outCount = n;
    return n;
}

}  // namespace

bool g711::available(Path path) {
#ifdef KV_G711_AVX2
    static const bool avx2 = hasAvx2();
    return path == Path::Table || avx2;
#else
    return path == Path::Table;
#endif
}

void g711::encode(Path path, Law law, const int16_t* samples, int32_t n, uint8_t* codes) {
    const LawPaths paths = pathsOf(law);
    (path == Path::Avx2 ? paths.avx2 : paths.table)(samples, n, codes);
}

void CG711Codec::encodeALawSamples(const int16_t* samples, int32_t n, uint8_t* output) {
    g_chosen.aLaw(samples, n, output);
}

void CG711Codec::encodeMuLawSamples(const int16_t* samples, int32_t n, uint8_t* output) {
    g_chosen.muLaw(samples, n, output);
}

void CG711Codec::decodeALawSamples(const uint8_t* codes, int32_t n, int16_t* samples) {
    for (int32_t i = 0; i < n; ++i) samples[i] = kALawSamples[codes[i]];
}

void CG711Codec::decodeMuLawSamples(const uint8_t* codes, int32_t n, int16_t* samples) {
    for (int32_t i = 0; i < n; ++i) samples[i] = kMuLawSamples[codes[i]];
}

int32_t CG711Codec::encodeALaw(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) const {
    return encodeBlock(g_chosen.aLaw, samples, byteCount, output, outCount);
}

int32_t CG711Codec::encodeMuLaw(const int16_t* samples, int32_t byteCount, uint8_t* output, int32_t* outCount) const {
    return encodeBlock(g_chosen.muLaw, samples, byteCount, output, outCount);
}

}  // namespace kv::codecs
