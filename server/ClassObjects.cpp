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

STDAPI DllRegisterServer() {
    return kv::com::guarded([] {
        std::vector<OLECHAR> path;
        const HRESULT hr = kv::com::modulePath(path);
        return FAILED(hr) ? hr : kv::server::RegisterServer(path.data());
    });
}

STDAPI DllUnregisterServer() {
    return kv::com::guarded([] {
        std::vector<OLECHAR> path;
        const HRESULT hr = kv::com::modulePath(path);
        return FAILED(hr) ? hr : kv::server::UnregisterServer(path.data());
    });
}
