#include "encoders/KV_AudioG7231.h"

namespace kv::encoders {

CKV_AudioG7231::CKV_AudioG7231() : CKvAudioEncoderCore(kRegistryName) {}

HRESULT CKV_AudioG7231::finalConstruct() {
    m_codec.initCodec();
    return S_OK;
}

void CKV_AudioG7231::resetCodec() { m_codec.initCodec(); }

void CKV_AudioG7231::encodeBlock(const std::int16_t* pcm, BYTE* code) {
    int written = 0;
    m_codec.encodeG7231(pcm, G7231Blocks::kInBlock, code, &written);
}

}  // namespace kv::encoders
