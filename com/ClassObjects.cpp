#include "com/ClassObjects.h"

#include "com/Barrier.h"
#include "com/ClassFactory.h"
#include "com/Module.h"
#include "com/Registrar.h"
#include "encoders/KV_AudioG711.h"
#include "encoders/KV_AudioG7231.h"
#include "encoders/KV_AudioQuorvan.h"

#include <new>
#include <vector>

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
    if (lock) module().lock();
    else module().unlock();
    return S_OK;
}

namespace {

struct ObjectMapEntry {
    const CLSID* clsid;
    InstanceCreator create;
    CachedClassFactory* cached;
};

// In the order of registration.
ObjectMapEntry g_objectMap[] = {
    {&CLSID_KV_AudioG711A, createInstance<CKV_AudioG711A>, nullptr},
    {&CLSID_KV_AudioG711U, createInstance<CKV_AudioG711U>, nullptr},
    {&CLSID_KV_AudioG7231, createInstance<CKV_AudioG7231>, nullptr},
    {&CLSID_KV_AudioQuorvan, createInstance<CKV_AudioQuorvan>, nullptr},
};

void releaseClassObjects(void*) {
    for (auto& entry : g_objectMap) {
        if (entry.cached) entry.cached->Release();
        entry.cached = nullptr;
    }
}

}  // namespace

}  // namespace kv::com

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    using namespace kv::com;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return guarded([&] {
        for (auto& entry : g_objectMap) {
            if (!IsEqualGUID(*entry.clsid, rclsid)) continue;
            {
                ModuleSection guard;
                if (!entry.cached) {
                    // The clean-up first: a cached class object is always released at the end.
                    static bool cleanupAdded = false;
                    if (!cleanupAdded) {
                        module().addCleanup(releaseClassObjects, nullptr);
                        cleanupAdded = true;
                    }
                    auto* factory = new (std::nothrow) CachedClassFactory(entry.create);
                    if (!factory) return E_OUTOFMEMORY;
                    factory->AddRef();  // the cache's own reference
                    entry.cached = factory;
                }
            }
            return entry.cached->QueryInterface(riid, ppv);
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    });
}

STDAPI DllCanUnloadNow() { return kv::com::module().lockCount() == 0 ? S_OK : S_FALSE; }

namespace {

// The full path of the module file, as registration writes it; long paths
// included.
HRESULT modulePath(std::vector<OLECHAR>& path) {
    path.assign(32768, 0);
    const DWORD n = GetModuleFileNameW(kv::com::module().instance(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return E_FAIL;
    return S_OK;
}

}  // namespace

STDAPI DllRegisterServer() {
    return kv::com::guarded([] {
        std::vector<OLECHAR> path;
        const HRESULT hr = modulePath(path);
        return FAILED(hr) ? hr : kv::com::RegisterServer(path.data());
    });
}

STDAPI DllUnregisterServer() {
    return kv::com::guarded([] {
        std::vector<OLECHAR> path;
        const HRESULT hr = modulePath(path);
        return FAILED(hr) ? hr : kv::com::UnregisterServer(path.data());
    });
}
