#include "encoders/KV_AudioG7231.h"

#include <algorithm>
#include <cstring>

namespace kv {

CKV_AudioG7231::CKV_AudioG7231() : CKvAudioEncoderCore(kRegistryName) {}

HRESULT CKV_AudioG7231::finalConstruct() {
    m_codec.initCodec();
    return S_OK;
}

// Every piece ends with a frame coded, so a cut part-way through one of the
// passes a single call would make codes a frame early, and what a large call
// delivers would depend on where it was cut. A fixed piece size cannot avoid
// that for every fill, so oversized calls are cut only at the end of a pass,
// sized from the fill, each piece at most kMaxPieceBytes: the pieces then
// code exactly the frames one unbounded call would.
LONG CKV_AudioG7231::nextPieceBytes(LONG rest) const {
    if (rest <= kMaxPieceBytes) return rest;
    const int room = kStagingBytes - m_pcmFill;
    return room + (kMaxPieceBytes - room) / kFrameBytes * kFrameBytes;
}

HRESULT CKV_AudioG7231::Encode(const BYTE* pcm, int byteCount, BYTE** outData, int* outLen) {
    m_outLen = 0;
    int position = 0;
    while (pcm && position < byteCount) {
        const int take = std::min(byteCount - position, kStagingBytes - m_pcmFill);
        std::memcpy(m_pcm + m_pcmFill, pcm + position, static_cast<std::size_t>(take));
        m_pcmFill += take;
        position += take;
        if (m_pcmFill < kFrameBytes) break;
        int count = 0;
        m_codec.encodeG7231(reinterpret_cast<const std::int16_t*>(m_pcm), kFrameBytes, m_out + m_outLen, &count);
        m_outLen += count;
        m_pcmFill -= kFrameBytes;
        std::memmove(m_pcm, m_pcm + kFrameBytes, static_cast<std::size_t>(m_pcmFill));
    }
    *outData = m_out;
    *outLen = m_outLen;
    return S_OK;
}

}  // namespace kv
