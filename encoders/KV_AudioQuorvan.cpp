#include "encoders/KV_AudioQuorvan.h"

namespace kv::encoders {

CKV_AudioQuorvan::CKV_AudioQuorvan() : CKvAudioEncoderCore(kRegistryName) { m_codec.initCodec(64000, 8000); }

void CKV_AudioQuorvan::releaseCodec() { m_codec.closeCodec(); }

void CKV_AudioQuorvan::encodeBlock(const std::int16_t* pcm, BYTE* code) {
    std::int32_t count = 0;
    m_codec.encodeG722(pcm, QuorvanBlocks::kInBlock, code, &count);
}

}  // namespace kv::encoders
