#pragma once

// The two G.711 encoder classes: the core with a law of CG711Codec, the PCM byte
// stream cut into 320-byte blocks (160 samples), each coded into 160 bytes.

#include "codecs/G711Codec.h"
#include "encoders/KvAudioEncoderCore.h"

namespace kv::encoders {

struct G711Blocks {
    static constexpr int kInBlock = 320;
    static constexpr int kOutBlock = 160;
    static constexpr int kStagingBlocks = 1;
    // 20 blocks of code at most (3200 bytes) per delivery.
    static constexpr int kMaxPieceBytes = 6400;
    static constexpr bool kEmptyBlockIsNull = false;
    static constexpr bool kPadLastBlock = false;
};

template <class Derived, class ClassInterface, void (*Law)(const std::int16_t*, std::int32_t, std::uint8_t*)>
class CKV_AudioG711Base : public CKvAudioEncoderCore<Derived, ClassInterface, G711Blocks> {
public:
    // The codec is stateless: its law is all there is to call.
    void encodeBlock(const std::int16_t* pcm, BYTE* code) { Law(pcm, G711Blocks::kOutBlock, code); }
    void encodeSamples(const std::int16_t* pcm, int count, BYTE* code) { Law(pcm, count, code); }

protected:
    using CKvAudioEncoderCore<Derived, ClassInterface, G711Blocks>::CKvAudioEncoderCore;
};

class CKV_AudioG711A
    : public CKV_AudioG711Base<CKV_AudioG711A, IKV_AudioG711A, &codecs::CG711Codec::encodeALawSamples> {
public:
    // The name the object takes out of the registry component at its end.
    static constexpr const OLECHAR* kRegistryName = KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711A");
    static constexpr const OLECHAR* kProgId = KV_W("KvAudioEncoder.KV_AudioG711A");

    CKV_AudioG711A();
};

class CKV_AudioG711U
    : public CKV_AudioG711Base<CKV_AudioG711U, IKV_AudioG711U, &codecs::CG711Codec::encodeMuLawSamples> {
public:
    // The name the object takes out of the registry component at its end.
    static constexpr const OLECHAR* kRegistryName = KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711U");
    static constexpr const OLECHAR* kProgId = KV_W("KvAudioEncoder.KV_AudioG711U");

    CKV_AudioG711U();
};

}  // namespace kv::encoders
