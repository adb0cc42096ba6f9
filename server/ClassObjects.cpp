#include "server/ClassObjects.h"

#include "com/ClassFactory.h"
#include "com/Module.h"
#include "server/ClassTable.h"
#include "server/Registration.h"

#include <array>

namespace kv::server {
namespace {

// The object map: the class table's rows, in order, each with its cached
// class object.
std::array<com::CachedClassFactory*, kClassCount> g_cached = {};

}  // namespace
}  // namespace kv::server

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return kv::com::getMappedClassObject(kv::server::classTable(), kv::server::g_cached, rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return kv::com::canUnloadNow(); }

STDAPI DllRegisterServer() {
    return kv::com::registrar::registerModule(kv::server::RegisterServer, kv::server::Scope::Machine);
}

STDAPI DllUnregisterServer() {
    return kv::com::registrar::registerModule(kv::server::UnregisterServer, kv::server::Scope::Machine);
}

// regsvr32 /i:user (with /n: alone) registers for the calling user only.
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine) {
    return kv::com::registrar::installModule(install, cmdLine, kv::server::RegisterServer,
                                             kv::server::UnregisterServer);
}
