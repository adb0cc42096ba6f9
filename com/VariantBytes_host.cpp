// Host: VARIANT is an incomplete type here, so no variant holds bytes.
#include "com/VariantBytes.h"

namespace kv::com {

VariantBytes::VariantBytes(const VARIANT* variant) : m_status(variant ? S_FALSE : E_POINTER) {}

VariantBytes::~VariantBytes() = default;

}  // namespace kv::com
