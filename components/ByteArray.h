#pragma once

// Bytes as scripts take them: a VARIANT holding a one-dimensional byte array
// (VT_ARRAY | VT_UI1, lower bound 0). Only win32 has SAFEARRAY; the host's
// source answers E_NOTIMPL (ByteArray_host.cpp, ByteArray_win32.cpp).

#include <cstddef>

#include "platform/win32.h"

namespace kv::components {

// Fills `out` (whatever it held is not freed, as for an [out] argument) with
// a copy of the bytes; an empty array for none. E_POINTER, E_OUTOFMEMORY.
HRESULT makeByteArray(const BYTE* data, std::size_t length, VARIANT* out);

}  // namespace kv::components
