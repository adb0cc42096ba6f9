#pragma once

// A BSTR we allocate and free ourselves. A callee given one as an [in]
// argument only borrows it.

#include "platform/win32.h"

#include <utility>

namespace kv::com {

class Bstr {
public:
    explicit Bstr(const OLECHAR* text) : m_text(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return m_text; }
    explicit operator bool() const { return m_text != nullptr; }

private:
    BSTR m_text;
};

}  // namespace kv::com
