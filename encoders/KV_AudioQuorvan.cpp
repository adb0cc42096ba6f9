#include "encoders/KV_AudioQuorvan.h"

namespace kv::encoders {

CKV_AudioQuorvan::CKV_AudioQuorvan() : CKvAudioEncoderCore(kRegistryName) { resetCodec(); }

void CKV_AudioQuorvan::releaseCodec() { m_codec.closeCodec(); }

void CKV_AudioQuorvan::resetCodec() { m_codec.initCodec(64000, 8000); }

void CKV_AudioQuorvan::encodeBlock(const std::int16_t* pcm, BYTE* code) {
    std::int32_t written = 0;
    m_codec.encodeG722(pcm, QuorvanBlocks::kInBlock, code, &written);
}

void CKV_AudioQuorvan::encodeSamples(const std::int16_t* pcm, int count, BYTE* code) {
    std::int32_t written = 0;
    m_codec.encodeG722(pcm, count * 2, code, &written);
}

}  // namespace kv::encoders
