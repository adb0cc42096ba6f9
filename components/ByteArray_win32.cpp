#include "components/ByteArray.h"

#include <cstring>
#include <limits>

namespace kv::components {

HRESULT makeByteArray(const BYTE* data, std::size_t length, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (length > std::numeric_limits<ULONG>::max()) return E_OUTOFMEMORY;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(length));
    if (!array) return E_OUTOFMEMORY;
    if (length > 0) {
        void* bytes = nullptr;
        const HRESULT hr = SafeArrayAccessData(array, &bytes);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
        std::memcpy(bytes, data, length);
        SafeArrayUnaccessData(array);
    }
    V_VT(out) = VT_ARRAY | VT_UI1;
    V_ARRAY(out) = array;
    return S_OK;
}

}  // namespace kv::components
