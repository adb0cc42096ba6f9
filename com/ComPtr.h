#pragma once

#include "com/Guid.h"

#include <cstddef>
#include <utility>

namespace kv::com {

// Owning interface pointer: one reference, released when cleared or destroyed.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a reference of its own, like an assignment in COM client code.
    explicit ComPtr(T* p) noexcept : m_p(p) { addRef(); }
    ComPtr(const ComPtr& other) noexcept : m_p(other.m_p) { addRef(); }
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~ComPtr() { release(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Adopts a pointer whose reference the caller hands over.
    static ComPtr attach(T* p) noexcept {
        ComPtr r;
        r.m_p = p;
        return r;
    }
    // Hands the reference to the caller.
    [[nodiscard]] T* detach() noexcept { return std::exchange(m_p, nullptr); }

    void reset() noexcept {
        T* old = std::exchange(m_p, nullptr);
        if (old) old->Release();
    }
    // For out parameters: releases what is held, then exposes the slot.
    T** put() noexcept {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    T& operator*() const noexcept { return *m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // QueryInterface for U; null when the object does not offer it.
    template <class U>
    ComPtr<U> query() const noexcept {
        ComPtr<U> r;
        if (m_p) m_p->QueryInterface(iidOf<U>(), r.put_void());
        return r;
    }
    template <class U>
    HRESULT queryTo(ComPtr<U>& out) const noexcept {
        if (!m_p) {
            out.reset();
            return E_POINTER;
        }
        return m_p->QueryInterface(iidOf<U>(), out.put_void());
    }

    void swap(ComPtr& other) noexcept { std::swap(m_p, other.m_p); }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.m_p == b.m_p; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.m_p == nullptr; }

private:
    void addRef() noexcept {
        if (m_p) m_p->AddRef();
    }
    void release() noexcept {
        if (m_p) m_p->Release();
    }

    T* m_p = nullptr;
};

}  // namespace kv::com
