#include "com/VariantBytes.h"

namespace kv::com {

VariantBytes::VariantBytes(const VARIANT* variant) {
    if (!variant) {
        m_status = E_POINTER;
        return;
    }
    // Script engines pass their variables as references to a VARIANT.
    while (V_VT(variant) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(variant)) variant = V_VARIANTREF(variant);
    m_type = V_VT(variant);
    if (m_type != (VT_ARRAY | VT_UI1) && m_type != (VT_BYREF | VT_ARRAY | VT_UI1)) return;
    SAFEARRAY* array = (m_type & VT_BYREF) ? (V_ARRAYREF(variant) ? *V_ARRAYREF(variant) : nullptr) : V_ARRAY(variant);
    LONG lower = 0, upper = -1;
    if (array && (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
                  FAILED(SafeArrayGetUBound(array, 1, &upper)))) {
        m_status = DISP_E_TYPEMISMATCH;
        return;
    }
    const LONG size = array ? upper - lower + 1 : 0;
    void* bytes = nullptr;
    if (size > 0) {
        if (FAILED(SafeArrayAccessData(array, &bytes))) {
            m_status = E_UNEXPECTED;
            return;
        }
        m_locked = array;
    }
    m_data = static_cast<BYTE*>(bytes);
    m_size = size;
    m_status = S_OK;
}

VariantBytes::~VariantBytes() {
    if (m_locked) SafeArrayUnaccessData(static_cast<SAFEARRAY*>(m_locked));
}

}  // namespace kv::com
