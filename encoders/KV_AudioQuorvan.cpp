#include "encoders/KV_AudioQuorvan.h"

#include <cstring>

namespace kv {

CKV_AudioQuorvan::CKV_AudioQuorvan() : CKvAudioEncoderCore(kRegistryName) {
    m_codec.initCodec(64000, 8000);
}

void CKV_AudioQuorvan::releaseCodec() { m_codec.closeCodec(); }

HRESULT CKV_AudioQuorvan::Encode(const BYTE* pcm, int byteCount, BYTE** outData, int* outLen) {
    m_outLen = 0;
    if (byteCount > 0) {
        std::memcpy(m_pcm + m_pcmFill, pcm, static_cast<std::size_t>(byteCount));
        m_pcmFill += byteCount;
    }
    // Below a whole block the outputs stay as the caller preset them: an empty block.
    if (m_pcmFill < kBlockBytes) return S_OK;
    const int blocks = m_pcmFill / kBlockBytes;
    for (int i = 0; i < blocks; ++i) {
        std::int32_t count = 0;
        m_codec.encodeG722(reinterpret_cast<const std::int16_t*>(m_pcm + kBlockBytes * i), kBlockBytes,
                           m_out + m_outLen, &count);
        m_outLen += count;
    }
    m_pcmFill -= blocks * kBlockBytes;
    std::memmove(m_pcm, m_pcm + blocks * kBlockBytes, static_cast<std::size_t>(m_pcmFill));
    *outData = m_out;
    *outLen = m_outLen;
    return S_OK;
}

}  // namespace kv
