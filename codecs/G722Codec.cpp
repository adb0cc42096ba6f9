#include "codecs/G722Codec.h"

#include "codecs/G722Band.h"

namespace kv::codecs {

namespace {

using namespace g722;

uint32_t lowInterval(int32_t wd, int32_t det) {
    const uint32_t q = ((static_cast<uint32_t>(wd) + 1) << 12) - 1;
    const uint32_t level = q / static_cast<uint32_t>(det);
    return kTables.interval[level < kTopLevel ? level : kTopLevel];
}

// SUBTRA, QUANTL and the steps after: one low-band sample in, its six-bit
// code out. Always inline, as the quantizers below: out of line, a call per
// sample costs the Quorvan coder a quarter more instructions (callgrind).
[[gnu::always_inline]] inline int32_t codeLow(Band& band, int32_t xlow) {
    // The difference is not limited to 16 bits: the limit keeps its sign
    // and, beyond 16 bits, leaves wd at 32767, and any wd from 32767 up
    // reaches the top interval (q >= (2^27 - 1) / 16384 > 2919 for every
    // det), so the code is the same with or without it.
    const int32_t el = xlow - band.s;
    const int32_t wd = el >= 0 ? el : -(el + 1);
    const LowCode& c = kTables.lowCode[lowInterval(wd, band.det) | (static_cast<uint32_t>(el >> 31) & 32)];
    band.stepLow(c.invQuant, c.logStep);
    return c.code;
}

// SUBTRA, QUANTH and the steps after.
[[gnu::always_inline]] inline int32_t codeHigh(Band& band, int32_t xhigh) {
    const int32_t eh = clamp16(xhigh - band.s);
    const int32_t wd = eh >= 0 ? eh : -(eh + 1);
    const int m = wd >= (564 * band.det) >> 12 ? 2 : 1;
    const int32_t ihigh = eh < 0 ? kHighCodeNeg[m] : kHighCodePos[m];
    band.stepHigh(ihigh);
    return ihigh;
}

// One 16 kHz input pair through the transmit QMF.
void splitBands(G722EncoderState& st, int32_t x0, int32_t x1, int32_t& xlow, int32_t& xhigh) {
    for (int i = 0; i < 22; ++i) st.qmfHistory[i] = st.qmfHistory[i + 2];
    st.qmfHistory[22] = x0;
    st.qmfHistory[23] = x1;
    int32_t sumOdd = 0;
    int32_t sumEven = 0;
    for (int i = 0; i < 12; ++i) {
        sumOdd += st.qmfHistory[2 * i] * kQmfCoeffs[i];
        sumEven += st.qmfHistory[2 * i + 1] * kQmfCoeffs[11 - i];
    }
    xlow = (sumEven + sumOdd) >> 13;
    xhigh = (sumEven - sumOdd) >> 13;
}

// Appends one code word; returns the bytes written (0 or 1).
int32_t putCode(G722EncoderState& st, uint8_t* out, int32_t code) {
    if (!st.packed) {
        *out = static_cast<uint8_t>(code);
        return 1;
    }
    st.outBuffer |= static_cast<uint32_t>(code) << st.outBits;
    st.outBits += st.bitsPerSample;
    if (st.outBits < 8) return 0;
    *out = static_cast<uint8_t>(st.outBuffer & 0xFF);
    st.outBits -= 8;
    st.outBuffer >>= 8;
    return 1;
}

}  // namespace

void CG722Codec::initCodec(int32_t bitRate, int32_t sampleRate) {
    int32_t options = G722_OPT_PACK;
    if (sampleRate == 8000) options |= G722_OPT_8K_INPUT;
    resetState(m_state, bitRate, options);
    m_initialised = true;
}

int32_t CG722Codec::encodeG722(const int16_t* pcm, int32_t byteCount, uint8_t* out, int32_t* outCount) {
    if (outCount == nullptr) return -1;
    *outCount = -1;
    if (pcm == nullptr || out == nullptr || byteCount <= 0 || !m_initialised) return -1;
    const int32_t n = encodeSamples(m_state, out, pcm, byteCount / 2);
    *outCount = n;
    return n;
}

bool CG722Codec::closeCodec() {
    m_initialised = false;
    return true;
}

void CG722Codec::resetState(G722EncoderState& st, int32_t bitRate, int32_t options) {
    st = G722EncoderState{};
    st.bitsPerSample = bitRate == 48000 ? 6 : (bitRate == 56000 ? 7 : 8);
    st.eightK = (options & G722_OPT_8K_INPUT) != 0 ? 1 : 0;
    st.packed = (options & G722_OPT_PACK) != 0 && st.bitsPerSample != 8 ? 1 : 0;
    st.band[0].det = 32;
    st.band[1].det = 8;
}

int32_t CG722Codec::encodeSamples(G722EncoderState& st, uint8_t* out, const int16_t* pcm, int32_t sampleCount) {
    Band lo(st.band[0]);
    int32_t n = 0;
    if (st.eightK && !st.packed) {
        // Every sample one byte, low band only: the Quorvan stream.
        const int shift = 8 - st.bitsPerSample;
        if (shift == 0) {
            for (int32_t j = 0; j < sampleCount; ++j) out[j] = static_cast<uint8_t>(0xC0 | codeLow(lo, pcm[j]));
        } else {
            for (int32_t j = 0; j < sampleCount; ++j)
                out[j] = static_cast<uint8_t>((0xC0 | codeLow(lo, pcm[j])) >> shift);
        }
        lo.store(st.band[0]);
        return sampleCount;
    }
    Band hi(st.band[1]);
    int32_t j = 0;
    while (j < sampleCount) {
        int32_t code;
        if (st.eightK) {
            code = (0xC0 | codeLow(lo, pcm[j])) >> (8 - st.bitsPerSample);
            j += 1;
        } else {
            int32_t xlow;
            int32_t xhigh;
            if (st.hasPending) {
                st.hasPending = 0;
                splitBands(st, st.pendingSample, pcm[j], xlow, xhigh);
                j += 1;
            } else if (j + 1 < sampleCount) {
                splitBands(st, pcm[j], pcm[j + 1], xlow, xhigh);
                j += 2;
            } else {
                st.pendingSample = pcm[j];
                st.hasPending = 1;
                break;
            }
            const int32_t ilow = codeLow(lo, xlow);
            code = ((codeHigh(hi, xhigh) << 6) | ilow) >> (8 - st.bitsPerSample);
        }
        n += putCode(st, out + n, code);
    }
    lo.store(st.band[0]);
    hi.store(st.band[1]);
    return n;
}

}  // namespace kv::codecs
