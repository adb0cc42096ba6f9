#pragma once

// The Quorvan encoder: 480-byte blocks (240 samples) through the G.722 coder
// at 64 kbit/s in its 8 kHz input mode, one byte per sample: 0xC0 | the
// six-bit low-band code. No header, no framing.

#include "codecs/G722Codec.h"
#include "encoders/KvAudioEncoderCore.h"

namespace kv::encoders {

struct QuorvanBlocks {
    static constexpr int kInBlock = 480;
    static constexpr int kOutBlock = 240;
    static constexpr int kStagingBlocks = 1;
    // Calls of up to 4321 bytes are delivered in one block, longer ones in
    // pieces of 4321: the most that always fits a ten-block area (4800
    // bytes) behind the 479 bytes that may be held, the bound this class has
    // always set on a call. Sinks see where calls are cut, so it stays; its
    // code fits ten blocks (2400 bytes).
    static constexpr int kMaxPieceBytes = 10 * kInBlock - (kInBlock - 1);
    static constexpr bool kEmptyBlockIsNull = true;
    static constexpr bool kPadLastBlock = false;
};

class CKV_AudioQuorvan : public CKvAudioEncoderCore<CKV_AudioQuorvan, IKV_AudioQuorvan, QuorvanBlocks> {
public:
    // The name the object takes out of the registry component at its end.
    static constexpr const OLECHAR* kRegistryName = KV_W("KvCom.KvAudio.KvAudioEncoder.KVG722");
    static constexpr const OLECHAR* kProgId = KV_W("KvAudioEncoder.KV_AudioQuorvan");

    CKV_AudioQuorvan();
    // The class's own step of the final release.
    void releaseCodec();
    void resetCodec();

    void encodeBlock(const std::int16_t* pcm, BYTE* code);
    void encodeSamples(const std::int16_t* pcm, int count, BYTE* code);

private:
    codecs::CG722Codec m_codec;
};

}  // namespace kv::encoders
