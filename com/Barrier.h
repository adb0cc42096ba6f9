#pragma once

// No exception may leave a COM method into the host, which has no way to
// catch it. Every entry point of a module runs its body through guarded().

#include "platform/win32.h"

#include <new>

namespace kv::com {

template <class Body>
HRESULT guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace kv::com
