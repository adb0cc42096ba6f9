#include "components/ObjectRegistry.h"

#include <new>

namespace kv::components {

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::AddObject(LPCOLESTR name, IUnknown* object) {
    if (!name || !object) return E_POINTER;
    if (!*name) return E_INVALIDARG;
    kv::com::ComPtr<IUnknown> entry(object);
    try {
        OleString key(name);
        std::lock_guard<std::mutex> guard(m_lock);
        entry.swap(m_objects[std::move(key)]);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // `entry` now holds what the name had before, released after the lock.
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::RemoveObject(BSTR name) {
    if (!name) return S_FALSE;
    kv::com::ComPtr<IUnknown> removed;
    try {
        // Up to the terminator, not by the BSTR's length prefix: callers that
        // pass a plain wide string still find their entry.
        const OleString key(name);
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_objects.find(key);
        if (it == m_objects.end()) return S_FALSE;
        removed = std::move(it->second);
        m_objects.erase(it);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::LookupObject(LPCOLESTR name, IUnknown** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!name) return E_POINTER;
    try {
        const OleString key(name);
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_objects.find(key);
        if (it == m_objects.end()) return S_FALSE;
        *object = it->second.get();  // borrowed: the entry keeps the reference
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::size_t CKvObjectRegistry::size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_objects.size();
}

}  // namespace kv::components
