#include "encoders/KV_AudioG711.h"

namespace kv {

CKV_AudioG711A::CKV_AudioG711A() : CKV_AudioG711Base(KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711A")) {}

CKV_AudioG711U::CKV_AudioG711U() : CKV_AudioG711Base(KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711U")) {}

}  // namespace kv
