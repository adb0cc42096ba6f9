#pragma once

// The G.723.1 encoder: PCM staged in up to ten 480-byte frames, one frame
// coded per piece of input taken, 24 bytes of 6.3 kbit/s code per frame.

#include "codecs/G7231Codec.h"
#include "encoders/KvAudioEncoderCore.h"

namespace kv {

class CKV_AudioG7231 : public CKvAudioEncoderCore<CKV_AudioG7231, IKV_AudioG7231> {
public:
    static constexpr int kFrameBytes = CG7231Codec::kFrameBytes;
    static constexpr int kCodeBytes = CG7231Codec::kCodeBytes;
    static constexpr int kStagingBytes = 4800;
    static constexpr int kAreaBytes = 48000;
    // Every pass takes at most 480 new bytes once the staging is full, and
    // the first takes at least 480 (at most 4320 stay held between calls),
    // so N bytes make at most ceil(N / 480) passes of one frame each: this
    // many bytes fill the output area's 2000 frames and no more.
    static constexpr int kMaxPieceBytes = kFrameBytes * (kAreaBytes / kCodeBytes);

    // The name the object takes out of the registry component at its end.
    static constexpr const OLECHAR* kRegistryName = KV_W("KvCom.KvAudio.KvAudioEncoder.KVG7231");

    CKV_AudioG7231();
    HRESULT finalConstruct();

    LONG nextPieceBytes(LONG rest) const;

protected:
    HRESULT Encode(const BYTE* pcm, int byteCount, BYTE** outData, int* outLen) override;

private:
    alignas(2) BYTE m_pcm[kAreaBytes] = {};
    int m_pcmFill = 0;
    BYTE m_out[kAreaBytes] = {};
    int m_outLen = 0;
    CG7231Codec m_codec;
};

}  // namespace kv
