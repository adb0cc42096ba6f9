// The exported entry points of KvAudioComponents.dll and its registration:
// the four classes (ProgIDs, in-process server, threading model "Apartment")
// and KvLib, which the module carries as resource 1 of type "TYPELIB".
#include <array>

#include "com/ClassFactory.h"
#include "com/DllMain.h"
#include "com/Module.h"
#include "com/Registrar.h"
#include "components/dll/ClassTable.h"

namespace kv::components::dll {
namespace {

using namespace com::registrar;

std::array<com::CachedClassFactory*, kClassCount> g_cached = {};

constexpr Line kClassScript[] = {
    key(0, var(Var::ProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(0, var(Var::VersionIndependentProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(1, lit(KV_W("CurVer")), var(Var::ProgId)),
    key(0, lit(KV_W("CLSID")), kNone, Rule::NeverRemoved),
    key(1, var(Var::Clsid), var(Var::Description), Rule::RemovedBeforeWritten),
    key(2, lit(KV_W("ProgID")), var(Var::ProgId)),
    key(2, lit(KV_W("VersionIndependentProgID")), var(Var::VersionIndependentProgId)),
    key(2, lit(KV_W("InprocServer32")), var(Var::Module)),
    value(3, KV_W("ThreadingModel"), lit(KV_W("Apartment"))),
    key(2, lit(KV_W("TypeLib")), lit(KV_W("{575AA7B5-E1A9-414D-8EF9-AAE317E10B10}"))),
};
static_assert(wellFormed(kClassScript));

Replacements forClass(const OLECHAR* modulePath, const ClassRow& row) {
    Replacements r;
    r.module = modulePath;
    r.description = row.description;
    r.progId = row.progId;
    r.versionIndependentProgId = row.versionIndependentProgId;
    r.clsid = row.clsidText;
    return r;
}

// The classes in table order, then the type library; stops at the first failure.
HRESULT registerServer(const OLECHAR* modulePath, Scope scope) {
    SystemLocaleScope locale;
    for (const ClassRow& row : classTable()) {
        const HRESULT hr = registerScript(kClassScript, forClass(modulePath, row), scope);
        if (FAILED(hr)) return hr;
    }
    return registerTypeLib(modulePath, scope);
}

HRESULT unregisterServer(const OLECHAR* modulePath, Scope scope) {
    SystemLocaleScope locale;
    for (const ClassRow& row : classTable()) {
        const HRESULT hr = unregisterScript(kClassScript, forClass(modulePath, row), scope);
        if (FAILED(hr)) return hr;
    }
    return unregisterTypeLib(modulePath, scope);
}

}  // namespace
}  // namespace kv::components::dll

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) { return kv::com::dllMain(instance, reason); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    using namespace kv::components::dll;
    return kv::com::getMappedClassObject(classTable(), g_cached, rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return kv::com::canUnloadNow(); }

STDAPI DllRegisterServer() {
    return kv::com::registrar::registerModule(kv::components::dll::registerServer, kv::com::registrar::Scope::Machine);
}

STDAPI DllUnregisterServer() {
    return kv::com::registrar::registerModule(kv::components::dll::unregisterServer,
                                              kv::com::registrar::Scope::Machine);
}

// regsvr32 /i:user (with /n: alone) registers for the calling user only.
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine) {
    using namespace kv::components::dll;
    return kv::com::registrar::installModule(install, cmdLine, registerServer, unregisterServer);
}
