// Host: VARIANT is an incomplete type here, so there is no array to make.
#include "components/ByteArray.h"

namespace kv::components {

HRESULT makeByteArray(const BYTE*, std::size_t, VARIANT* out) { return out ? E_NOTIMPL : E_POINTER; }

}  // namespace kv::components
