#include "com/ClassFactory.h"

#include "com/Module.h"

namespace kv::com {

HRESULT CachedClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CachedClassFactory::AddRef() {
    const LONG count = InterlockedIncrement(&m_count);
    if (count == 2) module().lock();
    return static_cast<ULONG>(count);
}

ULONG CachedClassFactory::Release() {
    const LONG count = InterlockedDecrement(&m_count);
    if (count == 1) module().unlock();
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT CachedClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    return m_create(outer, riid, ppv);
}

HRESULT CachedClassFactory::LockServer(BOOL lock) {
    if (lock)
        module().lock();
    else
        module().unlock();
    return S_OK;
}

namespace {

void releaseCached(void* slot) {
    auto*& cached = *static_cast<CachedClassFactory**>(slot);
    if (cached) cached->Release();
    cached = nullptr;
}

}  // namespace

HRESULT getClassObject(CachedClassFactory*& slot, InstanceCreator create, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return guarded([&] {
        {
            ModuleSection guard;
            if (!slot) {
                // The clean-up first: a cached class object is always released at the end.
                module().addCleanup(releaseCached, &slot);
                auto* factory = new (std::nothrow) CachedClassFactory(create);
                if (!factory) return E_OUTOFMEMORY;
                factory->AddRef();  // the cache's own reference
                slot = factory;
            }
        }
        return slot->QueryInterface(riid, ppv);
    });
}

}  // namespace kv::com
