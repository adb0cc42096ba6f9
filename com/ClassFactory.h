#pragma once

// A class object that creates instances of T, alone or inside an aggregate.
// T may have a finalConstruct() step, run after construction and before the
// new object is asked for the requested interface; its failure ends creation.

#include "com/Barrier.h"
#include "com/Object.h"

#include <new>

KV_INTERFACE_ID(IClassFactory, IID_IClassFactory);

namespace kv::com {

template <class T>
HRESULT createInstanceUnguarded(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer) {
        auto* aggregate = new (std::nothrow) Aggregated<T>(outer);
        if (!aggregate) return E_OUTOFMEMORY;
        aggregate->AddRef();  // holds the object through its set-up
        HRESULT hr = S_OK;
        if constexpr (requires { aggregate->object().finalConstruct(); }) hr = aggregate->object().finalConstruct();
        if (SUCCEEDED(hr)) hr = aggregate->QueryInterface(riid, ppv);
        aggregate->Release();
        return hr;
    }
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    object->internalAddRef();  // holds the object through its set-up
    HRESULT hr = S_OK;
    if constexpr (requires { object->finalConstruct(); }) hr = object->finalConstruct();
    if (SUCCEEDED(hr)) hr = object->internalQueryInterface(riid, ppv);
    object->Release();  // a failure above ends the object here, through its final release
    return hr;
}

template <class T>
HRESULT createInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualGUID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    // A constructor or set-up step that throws has freed what it built.
    return guarded([&] { return createInstanceUnguarded<T>(outer, riid, ppv); });
}

template <class T>
class ClassFactory : public implements<ClassFactory<T>, IClassFactory, interlocked_count> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return createInstance<T>(outer, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// A class object kept in a module's object map. The map's cache holds one
// reference; every reference beyond it locks the module, so a client holding
// a class object keeps the server loaded.
class CachedClassFactory final : public IClassFactory {
public:
    explicit CachedClassFactory(InstanceCreator create) : m_create(create) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~CachedClassFactory() = default;

    LONG volatile m_count = 0;
    InstanceCreator m_create;
};

// DllGetClassObject for one row of a module's object map: the row's class
// object, made on first demand and cached in `slot` (the cache's reference
// goes when the module ends), asked for `riid`.
HRESULT getClassObject(CachedClassFactory*& slot, InstanceCreator create, REFIID riid, void** ppv);

}  // namespace kv::com
