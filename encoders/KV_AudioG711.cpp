#include "encoders/KV_AudioG711.h"

namespace kv {

CKV_AudioG711A::CKV_AudioG711A() : CKV_AudioG711Base(kRegistryName) {}

void CKV_AudioG711A::encodeBlock(const CG711Codec& codec, const std::int16_t* pcm, BYTE* out, std::int32_t* count) {
    codec.encodeALaw(pcm, kBlockBytes, out, count);
}

CKV_AudioG711U::CKV_AudioG711U() : CKV_AudioG711Base(kRegistryName) {}

void CKV_AudioG711U::encodeBlock(const CG711Codec& codec, const std::int16_t* pcm, BYTE* out, std::int32_t* count) {
    codec.encodeMuLaw(pcm, kBlockBytes, out, count);
}

}  // namespace kv
