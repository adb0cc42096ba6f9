#include "codecs/G722Codec.h"

namespace kv::codecs {

namespace {

#include "codecs/G722Tables.inc"

// Low-band output code by quantizer interval (1..30), for a negative and a
// positive difference; entries 0 and 31 are never indexed.
constexpr int16_t kLowCodeNeg[32] = {0,  63, 62, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19,
                                     18, 17, 16, 15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  4,  0};
constexpr int16_t kLowCodePos[32] = {0,  61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,
                                     46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 0};
// Four high bits of the low-band code -> three-bit magnitude.
constexpr int16_t kLowMagIndex[16] = {0, 7, 6, 5, 4, 3, 2, 1, 7, 6, 5, 4, 3, 2, 1, 0};

// High band: code by magnitude class (1, 2), inverse quantizer and magnitude by
// two-bit code, log scale multiplier by magnitude.
constexpr int16_t kHighCodeNeg[3] = {0, 1, 0};
constexpr int16_t kHighCodePos[3] = {0, 3, 2};
constexpr int16_t kHighInvQuant[4] = {-7408, -1616, 7408, 1616};
constexpr int16_t kHighMagIndex[4] = {2, 1, 2, 1};
constexpr int16_t kHighLogScale[3] = {0, -214, 798};

constexpr int32_t clamp16(int32_t x) { return x > 32767 ? 32767 : (x < -32768 ? -32768 : x); }

constexpr int32_t limit(int32_t x, int32_t lo, int32_t hi) { return x > hi ? hi : (x < lo ? lo : x); }

// Quantizer scale factor from the log scale factor; the bands differ only in
// the base shift (8 low, 10 high).
int32_t scaleFromLog(int32_t nb, int baseShift) {
    const int32_t k = nb >> 11;
    int32_t w = kInvLog[(nb >> 6) & 31];
    w = baseShift - k >= 0 ? w >> (baseShift - k) : w << (k - baseShift);
    return w << 2;
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
    int32_t j = 0;
    int32_t n = 0;
    while (j < sampleCount) {
        int32_t xlow;
        int32_t xhigh = 0;
        if (st.eightK) {
            xlow = pcm[j];
            j += 1;
        } else if (st.hasPending) {
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

        // Low band: SUBTRA, QUANTL.
        G722BandState& lo = st.band[0];
        const int32_t el = clamp16(xlow - lo.s);
        int32_t wd = el >= 0 ? el : -(el + 1);
        int i = 1;
        while (i < 30 && wd >= (kLowDecision[i] * lo.det) >> 12) ++i;
        const int32_t ilow = el < 0 ? kLowCodeNeg[i] : kLowCodePos[i];

        // INVQAL on the four high bits, with the scale factor of this sample.
        const int32_t ril = ilow >> 2;
        const int32_t dlow = (lo.det * kLowInvQuant4[ril]) >> 15;

        // LOGSCL, SCALEL.
        lo.nb = limit(((lo.nb * 127) >> 7) + kLowLogScale[kLowMagIndex[ril]], 0, 18432);
        lo.det = scaleFromLog(lo.nb, 8);

        adaptBand(st, 0, dlow);

        int32_t code;
        if (st.eightK) {
            code = (0xC0 | ilow) >> (8 - st.bitsPerSample);
        } else {
            // High band: SUBTRA, QUANTH, INVQAH, LOGSCH, SCALEH.
            G722BandState& hi = st.band[1];
            const int32_t eh = clamp16(xhigh - hi.s);
            wd = eh >= 0 ? eh : -(eh + 1);
            const int m = wd >= (564 * hi.det) >> 12 ? 2 : 1;
            const int32_t ihigh = eh < 0 ? kHighCodeNeg[m] : kHighCodePos[m];
            const int32_t dhigh = (hi.det * kHighInvQuant[ihigh]) >> 15;
            hi.nb = limit(((hi.nb * 127) >> 7) + kHighLogScale[kHighMagIndex[ihigh]], 0, 22528);
            hi.det = scaleFromLog(hi.nb, 10);
            adaptBand(st, 1, dhigh);
            code = ((ihigh << 6) | ilow) >> (8 - st.bitsPerSample);
        }
        n += putCode(st, out + n, code);
    }
    return n;
}

void CG722Codec::adaptBand(G722EncoderState& st, int band, int32_t dq) {
    G722BandState& b = st.band[band];

    // RECONS, PARREC.
    b.d[0] = dq;
    b.r[0] = clamp16(b.s + dq);
    b.p[0] = clamp16(b.sz + dq);

    // UPPOL2.
    for (int i = 0; i < 3; ++i) b.sg[i] = b.p[i] >> 15;
    const int32_t w1 = clamp16(b.a[1] * 4);
    int32_t w2 = b.sg[0] == b.sg[1] ? -w1 : w1;
    if (w2 > 32767) w2 = 32767;
    const int32_t w3 = (w2 >> 7) + (b.sg[0] == b.sg[2] ? 128 : -128) + ((b.a[2] * 32512) >> 15);
    b.ap[2] = limit(w3, -12288, 12288);

    // UPPOL1.
    b.sg[0] = b.p[0] >> 15;
    b.sg[1] = b.p[1] >> 15;
    b.ap[1] = clamp16((b.sg[0] == b.sg[1] ? 192 : -192) + ((b.a[1] * 32640) >> 15));
    const int32_t lim = clamp16(15360 - b.ap[2]);
    b.ap[1] = limit(b.ap[1], -lim, lim);

    // UPZERO.
    const int32_t g = dq == 0 ? 0 : 128;
    b.sg[0] = dq >> 15;
    for (int i = 1; i < 7; ++i) {
        b.sg[i] = b.d[i] >> 15;
        b.bp[i] = clamp16((b.sg[i] == b.sg[0] ? g : -g) + ((b.b[i] * 32640) >> 15));
    }

    // DELAYA.
    for (int i = 6; i >= 1; --i) {
        b.d[i] = b.d[i - 1];
        b.b[i] = b.bp[i];
    }
    for (int i = 2; i >= 1; --i) {
        b.r[i] = b.r[i - 1];
        b.p[i] = b.p[i - 1];
        b.a[i] = b.ap[i];
    }

    // FILTEP.
    b.sp = clamp16(((b.a[1] * clamp16(2 * b.r[1])) >> 15) + ((b.a[2] * clamp16(2 * b.r[2])) >> 15));

    // FILTEZ: the sum is left unlimited until the end.
    int32_t sum = 0;
    for (int i = 6; i >= 1; --i) sum += (b.b[i] * clamp16(2 * b.d[i])) >> 15;
    b.sz = clamp16(sum);

    // PREDIC.
    b.s = clamp16(b.sp + b.sz);
}

}  // namespace kv::codecs
