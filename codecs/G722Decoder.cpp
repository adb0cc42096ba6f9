#include "codecs/G722Decoder.h"

#include "codecs/G722Band.h"

namespace kv::codecs {

namespace {

using namespace g722;

// The low band's inverse quantizers of 6 and 5 bits (the 4-bit one is
// kLowInvQuant4), by code. Entries no encoder emits (QQ6 0..3, QQ5 0..1)
// are still decoded: a damaged or foreign stream may carry them.
constexpr int16_t kLowInvQuant6[64] = {
    -136,  -136,  -136,  -136,  -24808, -21904, -19008, -16704, -14984, -13512, -12280, -11192, -10232,
    -9360, -8576, -7856, -7192, -6576,  -6000,  -5456,  -4944,  -4464,  -4008,  -3576,  -3168,  -2776,
    -2400, -2032, -1688, -1360, -1040,  -728,   24808,  21904,  19008,  16704,  14984,  13512,  12280,
    11192, 10232, 9360,  8576,  7856,   7192,   6576,   6000,   5456,   4944,   4464,   4008,   3576,
    3168,  2776,  2400,  2032,  1688,   1360,   1040,   728,    432,    136,    -432,   -136};
constexpr int16_t kLowInvQuant5[32] = {-280,  -280,  -23352, -17560, -14120, -11664, -9752, -8184, -6864, -5712, -4696,
                                       -3784, -2960, -2208,  -1520,  -880,   23352,  17560, 14120, 11664, 9752,  8184,
                                       6864,  5712,  4696,   3784,   2960,   2208,   1520,  880,   280,   -280};

constexpr int32_t limit15(int32_t x) { return limit(x, -16384, 16383); }

}  // namespace

void CG722Decoder::reset(int bitsPerCode, G722Alignment alignment, bool lowBandOnly) {
    m_bitsPerCode = bitsPerCode == 7 || bitsPerCode == 6 ? bitsPerCode : 8;
    m_alignment = alignment;
    m_lowBandOnly = lowBandOnly;
    m_low = G722BandState{};
    m_high = G722BandState{};
    m_low.det = 32;
    m_high.det = 8;
    for (int32_t& h : m_qmf) h = 0;
}

int CG722Decoder::decode(const std::uint8_t* codes, int count, std::int16_t* out) {
    const int lowBits = m_bitsPerCode - 2;
    const int unused = 8 - m_bitsPerCode;
    const int16_t* const lowInvQuant = lowBits == 6 ? kLowInvQuant6 : lowBits == 5 ? kLowInvQuant5 : kLowInvQuant4;
    Band lo(m_low);
    Band hi(m_high);
    std::int16_t* const start = out;
    for (int n = 0; n < count; ++n) {
        const int code = m_alignment == G722Alignment::Left ? codes[n] >> unused : codes[n] & (0xFF >> unused);
        const int il = code & ((1 << lowBits) - 1);
        const int il4 = il >> (lowBits - 4);
        // The reconstruction takes the full code, the predictor only its four
        // high bits, so that it stays in step with the encoder's at any rate;
        // both use the scale factor from before this code's update.
        const int32_t rl = limit15(lo.s + ((lo.det * lowInvQuant[il]) >> 15));
        lo.stepLow(kLowInvQuant4[il4], kLowLogScale[kLowMagIndex[il4]]);
        if (m_lowBandOnly) {
            *out++ = static_cast<std::int16_t>(rl);
            continue;
        }
        const int32_t highPrediction = hi.s;  // stepHigh moves it on
        const int32_t rh = limit15(highPrediction + hi.stepHigh((code >> lowBits) & 3));

        // Receive QMF: the sum and difference of the bands enter the history,
        // each filter phase gives one of the two 16 kHz samples.
        for (int i = 0; i < 22; ++i) m_qmf[i] = m_qmf[i + 2];
        m_qmf[22] = rl + rh;
        m_qmf[23] = rl - rh;
        int32_t odd = 0;
        int32_t even = 0;
        for (int i = 0; i < 12; ++i) {
            odd += m_qmf[2 * i + 1] * kQmfCoeffs[11 - i];
            even += m_qmf[2 * i] * kQmfCoeffs[i];
        }
        *out++ = static_cast<std::int16_t>(clamp16(odd >> 11));
        *out++ = static_cast<std::int16_t>(clamp16(even >> 11));
    }
    lo.store(m_low);
    if (!m_lowBandOnly) hi.store(m_high);
    return static_cast<int>(out - start);
}

}  // namespace kv::codecs
