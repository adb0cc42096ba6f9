#pragma once

// The two G.711 encoder classes: the core with a CG711Codec and a staging
// area that cuts the PCM byte stream into 320-byte blocks (160 samples), each
// encoded into 160 bytes.

#include "codecs/G711Codec.h"
#include "encoders/KvAudioEncoderCore.h"

namespace kv {

template <class Derived, class ClassInterface>
class CKV_AudioG711Base : public CKvAudioEncoderCore<Derived, ClassInterface> {
public:
    static constexpr int kBlockBytes = 320;
    static constexpr int kCodeBytes = 160;
    static constexpr int kAreaBytes = 3200;
    // With at most 319 bytes staged, 6400 more complete at most 20 blocks,
    // which is what the output area holds.
    static constexpr int kMaxPieceBytes = 6400;

protected:
    using CKvAudioEncoderCore<Derived, ClassInterface>::CKvAudioEncoderCore;

    HRESULT Encode(const BYTE* pcm, int byteCount, BYTE** outData, int* outLen) override {
        m_outLen = 0;
        int position = 0;
        while (position < byteCount) {
            const int room = kBlockBytes - m_pcmFill;
            const int rest = byteCount - position;
            const int take = rest > room ? room : rest;
            std::copy_n(pcm + position, take, m_pcm + m_pcmFill);
            m_pcmFill += take;
            position += take;
            if (m_pcmFill < kBlockBytes) break;
            std::int32_t count = 0;
            static_cast<Derived*>(this)->encodeBlock(m_codec, reinterpret_cast<const std::int16_t*>(m_pcm),
                                                     m_out + m_outLen, &count);
            m_outLen += count;
            m_pcmFill = 0;
        }
        *outData = m_out;
        *outLen = m_outLen;
        return S_OK;
    }

private:
    alignas(2) BYTE m_pcm[kAreaBytes] = {};
    int m_pcmFill = 0;
    BYTE m_out[kAreaBytes] = {};
    int m_outLen = 0;
    CG711Codec m_codec;
};

class CKV_AudioG711A : public CKV_AudioG711Base<CKV_AudioG711A, IKV_AudioG711A> {
public:
    // The name the object takes out of the registry component at its end.
    static constexpr const OLECHAR* kRegistryName = KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711A");

    CKV_AudioG711A();
    static void encodeBlock(const CG711Codec& codec, const std::int16_t* pcm, BYTE* out, std::int32_t* count);
};

class CKV_AudioG711U : public CKV_AudioG711Base<CKV_AudioG711U, IKV_AudioG711U> {
public:
    // The name the object takes out of the registry component at its end.
    static constexpr const OLECHAR* kRegistryName = KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711U");

    CKV_AudioG711U();
    static void encodeBlock(const CG711Codec& codec, const std::int16_t* pcm, BYTE* out, std::int32_t* count);
};

}  // namespace kv
