#pragma once

// The G.723.1 encoder: PCM staged in up to ten 480-byte frames, one frame
// coded per pass of input taken, 24 bytes of 6.3 kbit/s code per frame.

#include "codecs/G7231Codec.h"
#include "encoders/KvAudioEncoderCore.h"

namespace kv::encoders {

struct G7231Blocks {
    static constexpr int kInBlock = codecs::CG7231Codec::kFrameBytes;
    static constexpr int kOutBlock = codecs::CG7231Codec::kCodeBytes;
    // Whole frames may stay held across calls: at most 4320 bytes.
    static constexpr int kStagingBlocks = 10;
    // 2000 frames of code at most (48 000 bytes) per delivery.
    static constexpr int kMaxPieceBytes = kInBlock * 2000;
    static constexpr bool kEmptyBlockIsNull = false;
    // The stream ends on a whole frame: the last one is made up with silence.
    static constexpr bool kPadLastBlock = true;
};

class CKV_AudioG7231 : public CKvAudioEncoderCore<CKV_AudioG7231, IKV_AudioG7231, G7231Blocks> {
public:
    // The name the object takes out of the registry component at its end.
    static constexpr const OLECHAR* kRegistryName = KV_W("KvCom.KvAudio.KvAudioEncoder.KVG7231");
    static constexpr const OLECHAR* kProgId = KV_W("KvAudioEncoder.KV_AudioG7231");

    CKV_AudioG7231();
    HRESULT finalConstruct();
    void resetCodec();

    void encodeBlock(const std::int16_t* pcm, BYTE* code);

private:
    codecs::CG7231Codec m_codec;
};

}  // namespace kv::encoders
