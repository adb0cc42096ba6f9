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

}  // namespace kv::com
