#include "encoders/KV_AudioG711.h"

namespace kv::encoders {

CKV_AudioG711A::CKV_AudioG711A() : CKV_AudioG711Base(kRegistryName) {}

CKV_AudioG711U::CKV_AudioG711U() : CKV_AudioG711Base(kRegistryName) {}

}  // namespace kv::encoders
