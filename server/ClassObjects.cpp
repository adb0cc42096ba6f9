#include "server/ClassObjects.h"

#include "com/Barrier.h"
#include "com/ClassFactory.h"
#include "com/Module.h"
#include "server/ClassTable.h"
#include "server/Registration.h"

#include <array>
#include <vector>

namespace kv::server {
namespace {

// The object map: the class table's rows, in order, each with its cached
// class object.
std::array<com::CachedClassFactory*, kClassCount> g_cached = {};

}  // namespace
}  // namespace kv::server

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    using namespace kv::server;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    const auto rows = classTable();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (IsEqualGUID(rows[i].clsid, rclsid)) return kv::com::getClassObject(g_cached[i], rows[i].create, riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return kv::com::canUnloadNow(); }

namespace {

HRESULT registerModule(bool install, kv::server::Scope scope) {
    return kv::com::guarded([&] {
        std::vector<OLECHAR> path;
        const HRESULT hr = kv::com::modulePath(path);
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
