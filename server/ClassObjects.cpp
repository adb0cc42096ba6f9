#include "server/ClassObjects.h"

#include "com/Barrier.h"
#include "com/ClassFactory.h"
#include "com/Module.h"
#include "server/ClassTable.h"
#include "server/Registration.h"

#include <array>
#include <new>
#include <vector>

namespace kv::server {
namespace {

// The object map: the class table's rows, in order, each with its cached
// class object.
std::array<com::CachedClassFactory*, kClassCount> g_cached = {};

void releaseClassObjects(void*) {
    for (auto*& cached : g_cached) {
        if (cached) cached->Release();
        cached = nullptr;
    }
}

}  // namespace
}  // namespace kv::server

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    using namespace kv::server;
    using kv::com::module;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return kv::com::guarded([&] {
        const auto rows = classTable();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (!IsEqualGUID(rows[i].clsid, rclsid)) continue;
            auto*& cached = g_cached[i];
            {
                kv::com::ModuleSection guard;
                if (!cached) {
                    // The clean-up first: a cached class object is always released at the end.
                    static bool cleanupAdded = false;
                    if (!cleanupAdded) {
                        module().addCleanup(releaseClassObjects, nullptr);
                        cleanupAdded = true;
                    }
                    auto* factory = new (std::nothrow) kv::com::CachedClassFactory(rows[i].create);
                    if (!factory) return E_OUTOFMEMORY;
                    factory->AddRef();  // the cache's own reference
                    cached = factory;
                }
            }
            return cached->QueryInterface(riid, ppv);
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

namespace {

HRESULT registerModule(bool install, kv::server::Scope scope) {
    return kv::com::guarded([&] {
        std::vector<OLECHAR> path;
        const HRESULT hr = modulePath(path);
        if (FAILED(hr)) return hr;
        return install ? kv::server::RegisterServer(path.data(), scope)
                       : kv::server::UnregisterServer(path.data(), scope);
    });
}

}  // namespace

STDAPI DllRegisterServer() { return registerModule(true, kv::server::Scope::Machine); }

STDAPI DllUnregisterServer() { return registerModule(false, kv::server::Scope::Machine); }

// regsvr32 /i:user (with /n: alone) registers for the calling user only.
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine) {
    kv::server::Scope scope;
    if (!kv::com::registrar::scopeFromCommandLine(cmdLine, scope)) return E_INVALIDARG;
    return registerModule(install != FALSE, scope);
}
