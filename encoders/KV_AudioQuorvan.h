#pragma once

// The Quorvan encoder: 480-byte blocks (240 samples) through the G.722 coder
// at 64 kbit/s in its 8 kHz input mode, one byte per sample: 0xC0 | the
// six-bit low-band code. No header, no framing.

#include "codecs/G722Codec.h"
#include "encoders/KvAudioEncoderCore.h"

namespace kv {

class CKV_AudioQuorvan : public CKvAudioEncoderCore<CKV_AudioQuorvan, IKV_AudioQuorvan> {
public:
    static constexpr int kBlockBytes = 480;
    static constexpr int kCodeBytes = 240;
    static constexpr int kAreaBytes = 4800;
    // At most 479 bytes stay staged between calls, so 4321 more always fit.
    static constexpr int kMaxPieceBytes = kAreaBytes - (kBlockBytes - 1);

    // The name the object takes out of the registry component at its end.
    static constexpr const OLECHAR* kRegistryName = KV_W("KvCom.KvAudio.KvAudioEncoder.KVG722");

    CKV_AudioQuorvan();
    // The class's own step of the final release.
    void releaseCodec();

protected:
    HRESULT Encode(const BYTE* pcm, int byteCount, BYTE** outData, int* outLen) override;

private:
    alignas(2) BYTE m_pcm[kAreaBytes] = {};
    BYTE m_out[kAreaBytes] = {};
    int m_pcmFill = 0;
    int m_outLen = 0;
    CG722Codec m_codec;
};

}  // namespace kv
