#pragma once

#include <cstdint>

namespace kv::codecs {

// Options of CG722Codec::resetState.
inline constexpr int G722_OPT_8K_INPUT = 1;  // every sample goes straight into the low band
inline constexpr int G722_OPT_PACK = 2;      // pack 6/7-bit code words into bytes

struct G722BandState {
    int32_t s;      // predicted signal
    int32_t sp;     // pole section output
    int32_t sz;     // zero section output
    int32_t r[3];   // reconstructed signal, newest first
    int32_t a[3];   // pole coefficients (1, 2 used)
    int32_t ap[3];  // pole coefficients being updated
    int32_t p[3];   // partially reconstructed signal, newest first
    int32_t d[7];   // quantized difference, newest first
    int32_t b[7];   // zero coefficients (1..6 used)
    int32_t bp[7];  // zero coefficients being updated
    int32_t sg[7];  // sign scratch
    int32_t nb;     // logarithmic scale factor
    int32_t det;    // quantizer scale factor
};

struct G722EncoderState {
    int32_t packed;
    int32_t eightK;
    int32_t bitsPerSample;  // 6, 7 or 8
    int32_t qmfHistory[24];
    G722BandState band[2];  // 0 low, 1 high
    uint32_t outBuffer;     // packed bits not yet written, LSB first
    int32_t outBits;
    // 16 kHz mode takes samples in pairs; a call ending on an unpaired sample
    // leaves it here for the next call, so splitting a stream anywhere gives
    // the same codes as encoding it whole and no sample is lost.
    int32_t pendingSample;
    int32_t hasPending;
};

// Encoding half of a G.722 sub-band ADPCM codec: 64/56/48 kbit/s, 16 kHz input
// (QMF band split) or 8 kHz input (low band only), optional bit packing.
class CG722Codec {
public:
    CG722Codec() = default;
    virtual ~CG722Codec() = default;

    // Starts a fresh stream. Packing is always requested; it only takes effect
    // at 48 and 56 kbit/s. sampleRate 8000 selects the 8 kHz input mode.
    void initCodec(int32_t bitRate, int32_t sampleRate);

    // Encodes byteCount / 2 samples (an odd last byte is ignored) into out and
    // returns the bytes written, also stored in *outCount. out needs room for
    // one byte per sample of the call; that holds in every mode, including a
    // 16 kHz call that completes a carried sample. Refusals (null pointer,
    // byteCount <= 0, not initialised) return -1 and store -1 when outCount is
    // not null; they leave the stream untouched.
    int32_t encodeG722(const int16_t* pcm, int32_t byteCount, uint8_t* out, int32_t* outCount);

    bool closeCodec();

    // Stream primitives on a caller-held state; encodeG722 is built on them.
    static void resetState(G722EncoderState& state, int32_t bitRate, int32_t options);
    // No argument checks: pcm holds sampleCount >= 0 samples, out has room for
    // sampleCount bytes. Returns the bytes written.
    static int32_t encodeSamples(G722EncoderState& state, uint8_t* out, const int16_t* pcm, int32_t sampleCount);

private:
    bool m_initialised = false;
    G722EncoderState m_state{};
};

}  // namespace kv::codecs
