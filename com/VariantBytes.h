#pragma once

// The bytes a script hands over: a one-dimensional byte array in a VARIANT
// (VT_ARRAY | VT_UI1), also by reference, and behind the references to a
// VARIANT that script engines pass for their variables. Only win32 has
// SAFEARRAY: on the host every variant reads as holding no byte array
// (VariantBytes_host.cpp, VariantBytes_win32.cpp).

#include "platform/win32.h"

namespace kv::com {

// Reads the array in place: the bytes stay locked while the object lives.
class VariantBytes {
public:
    explicit VariantBytes(const VARIANT* variant);
    ~VariantBytes();
    VariantBytes(const VariantBytes&) = delete;
    VariantBytes& operator=(const VariantBytes&) = delete;

    // S_OK: the bytes are data() and size() (none for an empty or a null
    // array). S_FALSE: the variant holds no byte array (see type()).
    // DISP_E_TYPEMISMATCH: a byte array of other than one dimension.
    // E_UNEXPECTED: the array could not be locked. E_POINTER: no variant.
    HRESULT status() const { return m_status; }
    BYTE* data() const { return m_data; }
    LONG size() const { return m_size; }
    // The variant's VARTYPE behind the references to a VARIANT (VT_EMPTY on the host).
    unsigned short type() const { return m_type; }

private:
    HRESULT m_status = S_FALSE;
    unsigned short m_type = 0;
    BYTE* m_data = nullptr;
    LONG m_size = 0;
    [[maybe_unused]] void* m_locked = nullptr;  // the SAFEARRAY whose data is accessed (win32)
};

}  // namespace kv::com
